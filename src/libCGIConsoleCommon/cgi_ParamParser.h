// The request parser behind plm::CGetParameter. It is a function of the CGI
// variables, an input stream and the server's limits, so that it can run many
// times in one process; the process-wide list (cgi_GetParameter.cpp) feeds it
// the real environment and standard input.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "console/plm_Console.h"
#include "foundation/win_Handle.h"

namespace plm {

// The four CGI variables; an absent variable is nullopt.
struct SCgiRequest {
    std::optional<std::string> method;
    std::optional<std::string> queryString;
    std::optional<std::string> contentType;
    std::optional<std::string> contentLength;
};

// Creates a new file at path, failing with ERROR_FILE_EXISTS when the name is
// taken; the handle must be writable.
typedef HANDLE (*CreateTempFileFn)(const wchar_t* path);

struct SCgiLimits {
    int maxPostSizeK = 5120;    // URL-encoded bodies above this many KB are not read
    int maxUploadSizeM = 64;    // multipart bodies above this many MB are refused (3902)
    std::wstring serverFolder;  // ends with a backslash; holds "Temp" and "TEMP"; empty: no files
    // Creates the request's temporary files; null: CreateFileW (write and
    // delete access, not shared, temporary attribute). Lets tests make the
    // creation or the writes fail.
    CreateTempFileFn openPartFile = nullptr;
};

// Uploads beyond this many file parts in one request end parsing with 3902.
const size_t kMaxFileParts = 256;

// The temporary files of one request. Each is created new under a random name
// (so never a file or link someone else put there) and written through the
// handle that created it, which stays open and unshared until the list goes.
// Unless Keep() was called, the destructor deletes every file: a parse that
// fails leaves none behind.
class CRequestTempFiles {
public:
    explicit CRequestTempFiles(CreateTempFileFn create) : m_create(create) {}
    ~CRequestTempFiles();
    CRequestTempFiles(const CRequestTempFiles&) = delete;
    CRequestTempFiles& operator=(const CRequestTempFiles&) = delete;

    // A new file folder + prefix + 8 hex digits + ".tmp"; false, with the error
    // in GetLastError, when none can be made.
    bool Create(const std::wstring& folder, const wchar_t* prefix);
    size_t Count() const { return m_files.size(); }
    HANDLE LastHandle() const { return m_files.back().handle.get(); }
    const std::wstring& LastPath() const { return m_files.back().path; }
    // Deletes the newest file now.
    void DiscardLast();
    void Keep() { m_keep = true; }

private:
    struct SFile {
        OS::UniqueFile handle;
        std::wstring path;
    };
    static void Delete(SFile& file);

    CreateTempFileFn m_create;
    std::vector<SFile> m_files;
    bool m_keep = false;
};

// The request body. Read returns the bytes delivered (fewer than asked is
// allowed), 0 at end of input or on a read error.
class ICgiInput {
public:
    virtual bool SwitchToBinary() = 0;
    virtual size_t Read(void* buffer, size_t cbBuffer) = 0;

protected:
    ~ICgiInput() = default;
};

// Standard input of the C runtime.
class CStdinInput : public ICgiInput {
public:
    bool SwitchToBinary() override;
    size_t Read(void* buffer, size_t cbBuffer) override;
};

// Items still URL-encoded ("name=value"), in request order. They share one
// block of text, each ended by a zero byte: a body of a million one-byte items
// costs its own size, not a string object per item.
class CRawParamList {
public:
    void Reserve(size_t cbText) { m_text.reserve(cbText); }
    // Adds text up to its first zero byte; plusIsSpace reads "+" as a space.
    void Add(const char* text, size_t cbText, bool plusIsSpace = false);
    void Add(const std::string& item) { Add(item.data(), item.size()); }
    size_t Count() const { return m_count; }
    size_t ByteLength() const { return m_text.size() - m_count; }
    std::string LastItem() const;
    void AppendToLast(const std::string& text);
    // Visits every item as (text, length) in order.
    template <typename Visit>
    void ForEach(Visit visit) const {
        for (size_t pos = 0; pos < m_text.size();) {
            size_t cb = strlen(m_text.c_str() + pos);
            visit(m_text.c_str() + pos, cb);
            pos += cb + 1;
        }
    }

private:
    std::string m_text;  // item, zero byte, item, zero byte, ...
    size_t m_count = 0;
    size_t m_lastStart = 0;
};

// The parsed request. A pair's name or value is null when its bytes were not
// valid UTF-8; lookups and enumeration stop at a null name. The texts share
// one block, each pair costing two offsets besides its characters.
class CCgiParamList {
public:
    int Status() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    bool HasPairArray() const { return m_hasPairArray; }
    size_t PairCount() const { return m_slots.size() / 2; }
    // Null when the bytes were not valid UTF-8; valid until the next Decode.
    const wchar_t* NameAt(size_t pair) const { return Text(m_slots[2 * pair]); }
    const wchar_t* ValueAt(size_t pair) const { return Text(m_slots[2 * pair + 1]); }
    std::optional<std::wstring> Name(size_t pair) const { return Copy(NameAt(pair)); }
    std::optional<std::wstring> Value(size_t pair) const { return Copy(ValueAt(pair)); }

    // Replaces any earlier pairs by the decoded items.
    void Decode(const CRawParamList& raw);

    const wchar_t* FindValue(const wchar_t* name) const;
    bool GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset);
    void ResetEnum() { m_cursor = 0; }
    void EnumParaCallBack(PARA_CALLBACK callback);
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback);
    std::string ParaTableHtml() const;

private:
    static constexpr size_t kNull = static_cast<size_t>(-1);
    const wchar_t* Text(size_t offset) const { return offset == kNull ? nullptr : m_texts.c_str() + offset; }
    static std::optional<std::wstring> Copy(const wchar_t* text) {
        return text ? std::optional<std::wstring>(text) : std::nullopt;
    }
    void AddText(const char* utf8, size_t cb);

    int m_status = CGI_OK;
    bool m_hasPairArray = false;
    std::wstring m_texts;        // every name and value, each ended by a zero unit
    std::vector<size_t> m_slots;  // name0, value0, name1, value1, ...: offsets into m_texts or kNull
    size_t m_cursor = 0;         // index of the next pair
};

// Parses one request into list.
void ParseRequest(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list);

// Body length: a plain non-negative decimal number, anything else counts as 0;
// values too large for 64 bits saturate.
uint64_t ParseContentLength(const std::optional<std::string>& text);
// Splits text (up to its first zero byte) into raw items, "+" read as a space.
void Collect(const char* text, size_t cbText, CRawParamList& raw);
// In place; returns the new length. A "%" without two following characters stays.
size_t UrlDecode(char* text, size_t cbText);

// Multipart body (cgi_Multipart.cpp): returns the status; raw receives the
// items and files the uploads, which the caller keeps only on success.
int ParseMultipart(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw,
                   CRequestTempFiles& files);
// Text of a part header or value as UTF-8: taken as is when it is valid UTF-8,
// else read in the ANSI code page.
std::string MultipartTextToUtf8(const std::string& text);
// Writes every byte that Decode would split at or decode as "%XX".
std::string EscapeMultipartText(const std::string& text);
// Boundary parameter of a multipart content type; empty when there is none.
std::string MultipartBoundary(const std::string& contentType);

// Limit of URL-encoded bodies from the server's private settings, read once per process.
int GetMaxPostSizeK();
// The same without the process-wide hold (tests).
bool ReadMaxPostSizeK(int& valueK);

}  // namespace plm
