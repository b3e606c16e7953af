// Helpers of the request-parameter tests: in-memory request bodies, a server
// folder with its temporary folders, and the parsed pairs as plain values.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "libCGIConsoleCommon/request/cgi_Multipart.h"

namespace paramtest {

// A body in memory. It may hold more bytes than CONTENT_LENGTH announces, to
// show that the parser never reads past it; chunk > 0 delivers short reads.
class MemoryInput : public plm::ICgiInput {
public:
    explicit MemoryInput(std::string bytes, size_t chunk = 0, bool binaryOk = true)
        : m_bytes(std::move(bytes)), m_chunk(chunk), m_binaryOk(binaryOk) {}
    bool SwitchToBinary() override { return m_binaryOk; }
    size_t Read(void* buffer, size_t cbBuffer) override {
        size_t cb = std::min(cbBuffer, m_bytes.size() - m_pos);
        if (m_chunk) cb = std::min(cb, m_chunk);
        std::copy(m_bytes.data() + m_pos, m_bytes.data() + m_pos + cb, static_cast<char*>(buffer));
        m_pos += cb;
        return cb;
    }
    size_t Consumed() const { return m_pos; }

private:
    std::string m_bytes;
    size_t m_pos = 0;
    size_t m_chunk;
    bool m_binaryOk;
};

// Server folder with "TEMP" (uploads) and "Temp" (binary blocks): the same
// folder on this file system, which ignores case.
class ServerDir {
public:
    explicit ServerDir(const wchar_t* tag) : m_dir(tag) { CreateDirectoryW(TempFolder().c_str(), nullptr); }
    std::wstring Folder() const { return m_dir.path() + L"\\"; }
    std::wstring TempFolder() const { return m_dir.Join(L"TEMP"); }
    std::vector<std::wstring> TempFiles() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((TempFolder() + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }
    void ClearTemp() const {
        for (const std::wstring& name : TempFiles()) DeleteFileW((TempFolder() + L"\\" + name).c_str());
    }
    plm::SCgiLimits Limits() const {
        plm::SCgiLimits limits;
        limits.serverFolder = Folder();
        return limits;
    }

private:
    testsupport::TempDir m_dir;
};

// Pairs as text; a null name or value shows as "<null>".
typedef std::vector<std::pair<std::wstring, std::wstring>> Pairs;
inline Pairs PairsOf(const plm::CCgiParamList& list) {
    Pairs pairs;
    for (size_t i = 0; i < list.PairCount(); ++i) {
        pairs.emplace_back(list.Name(i) ? *list.Name(i) : L"<null>", list.Value(i) ? *list.Value(i) : L"<null>");
    }
    return pairs;
}

inline plm::SCgiRequest Post(const std::string& contentType, const std::string& contentLength) {
    plm::SCgiRequest request;
    request.method = "POST";
    request.contentType = contentType;
    request.contentLength = contentLength;
    return request;
}

struct Part {
    std::string name;
    std::string value;  // the data
    bool isFile = false;
};

inline std::string MultipartBody(const std::string& boundary, const std::vector<Part>& parts, bool close = true) {
    std::string body;
    for (const Part& part : parts) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.isFile) body += "; filename=\"f.bin\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + part.value + "\r\n";
    }
    if (close) body += "--" + boundary + "--\r\n";
    return body;
}

// Test names and failure output of table cases show their labels.
template <typename T>
std::string CaseName(const ::testing::TestParamInfo<T>& info) {
    std::string name;
    for (const char* p = info.param.label; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

}  // namespace paramtest
