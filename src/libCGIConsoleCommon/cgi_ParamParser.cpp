// Reading a request: method dispatch, URL-encoded items, their decoding into
// UTF-16 pairs, and the binary block that a URL-encoded body may carry.
#include "cgi_ParamParser.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "cgi_Internal.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

namespace plm {
namespace {

const wchar_t kSourceFile[] = L"cgi_ParamParser.cpp";
const char kBinaryMarker[] = "BinaryDataBlock=";

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t cb = strlen(prefix);
    return text.size() >= cb && _strnicmp(text.c_str(), prefix, cb) == 0;
}

bool IsCollectSeparator(char c) { return c == '&' || c == '\r' || c == '\n'; }

// Token of text starting at pos, strtok style: leading delimiters skipped, the
// token ends at the next delimiter or the end. pos moves past the terminator.
bool NextToken(const std::string& text, size_t& pos, const char* delims, size_t& begin, size_t& end) {
    size_t size = text.size();
    while (pos < size && strchr(delims, text[pos])) ++pos;
    if (pos >= size) return false;
    begin = pos;
    while (pos < size && !strchr(delims, text[pos])) ++pos;
    end = pos;
    if (pos < size) ++pos;
    return true;
}

// Percent-decoded UTF-8 bytes as UTF-16; nullopt when they are not convertible.
std::optional<std::wstring> DecodeField(std::string bytes) {
    size_t cb = UrlDecode(&bytes[0], bytes.size());
    cb = strnlen(bytes.c_str(), cb);  // a decoded zero byte ends the text
    std::wstring wide;
    if (!Utf8ToWide(bytes.data(), cb, wide)) return std::nullopt;
    return wide;
}

int HexDigit(unsigned char c) { return c <= 0x40 ? c - 0x30 : (c & ~0x20) - 55; }

std::string ReadBody(ICgiInput& input, uint64_t cbBody) {
    std::string body;
    body.reserve(static_cast<size_t>(cbBody < (1u << 20) ? cbBody : (1u << 20)));
    char chunk[4096];
    while (body.size() < cbBody) {
        uint64_t left = cbBody - body.size();
        size_t want = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
        size_t got = input.Read(chunk, want);
        if (got == 0) break;
        body.append(chunk, got < want ? got : want);
    }
    return body;
}

// Writes block to a new "Cfw" file in the server's Temp folder; its name
// without the folder, or empty.
std::string StoreBinaryBlock(const char* block, size_t cbBlock, const std::wstring& serverFolder) {
    std::wstring folder = serverFolder + L"Temp\\";
    wchar_t path[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.c_str(), L"Cfw", 0, path)) {
        DWORD err = GetLastError();
        FrameworkChannel::TraceWrite(87, kSourceFile, __LINE__, L"[StoreBinaryBlock] GetTempFileName failed! err=%d",
                                     static_cast<int>(err));
        return std::string();
    }
    OS::UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), block, static_cast<DWORD>(cbBlock), &written, nullptr) || written != cbBlock) {
        DWORD err = GetLastError();
        FrameworkChannel::TraceWrite(87, kSourceFile, __LINE__, L"[StoreBinaryBlock] write failed! err=%d",
                                     static_cast<int>(err));
        file.reset();
        DeleteFileW(path);
        return std::string();
    }
    const wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    char narrow[MAX_PATH] = {};
    int cb = WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, static_cast<int>(sizeof narrow - sizeof kBinaryMarker),
                                 nullptr, nullptr);
    return cb > 0 ? std::string(narrow) : std::string();
}

// A body whose last item is the marker, directly followed by its separator and
// then a zero byte (or the end), carries the bytes after the separator as a block.
void AttachBinaryBlock(const std::string& body, size_t lastItemEnd, CRawParamList& raw,
                       const std::wstring& serverFolder) {
    if (raw.Count() == 0 || raw.Last() != kBinaryMarker || lastItemEnd >= body.size()) return;
    if (!IsCollectSeparator(body[lastItemEnd])) return;
    size_t blockStart = lastItemEnd + 1;
    if (blockStart < body.size() && body[blockStart] != '\0') return;
    std::string name = StoreBinaryBlock(body.data() + blockStart, body.size() - blockStart, serverFolder);
    raw.Last() += name;
}

// Items of a URL-encoded body; returns where the last item ends (0 without items).
size_t CollectBody(const std::string& body, CRawParamList& raw) {
    Collect(body.data(), body.size(), raw);
    size_t cb = strnlen(body.data(), body.size());
    while (cb > 0 && IsCollectSeparator(body[cb - 1])) --cb;
    return cb;
}

int ParseUrlEncodedPost(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw) {
    uint64_t cbBody = ParseContentLength(request.contentLength);
    int64_t cbLimit = static_cast<int64_t>(limits.maxPostSizeK) * 1024;
    if (cbBody == 0 || cbLimit < 0 || cbBody > static_cast<uint64_t>(cbLimit)) return CGI_OK;
    if (!input.SwitchToBinary()) return CGI_ERR_BINARY_MODE;
    std::string body = ReadBody(input, cbBody);
    size_t lastItemEnd = CollectBody(body, raw);
    AttachBinaryBlock(body, lastItemEnd, raw, limits.serverFolder);
    return CGI_OK;
}

}  // namespace

bool CStdinInput::SwitchToBinary() { return _setmode(_fileno(stdin), _O_BINARY) != -1; }

size_t CStdinInput::Read(void* buffer, size_t cbBuffer) { return fread(buffer, 1, cbBuffer, stdin); }

void CRawParamList::Add(std::string item) {
    m_cbTotal += item.size();
    m_items.push_back(std::move(item));
}

uint64_t ParseContentLength(const std::optional<std::string>& text) {
    if (!text || text->empty()) return 0;
    uint64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return 0;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

void Collect(const char* text, size_t cbText, CRawParamList& raw) {
    size_t cb = strnlen(text, cbText);
    std::string item;
    for (size_t i = 0; i <= cb; ++i) {
        if (i == cb || IsCollectSeparator(text[i])) {
            if (!item.empty()) raw.Add(std::move(item));
            item.clear();
        } else {
            item += text[i] == '+' ? ' ' : text[i];
        }
    }
}

size_t UrlDecode(char* text, size_t cbText) {
    size_t out = 0;
    for (size_t in = 0; in < cbText; ++out) {
        if (text[in] == '%' && in + 2 < cbText) {
            int hi = HexDigit(static_cast<unsigned char>(text[in + 1]));
            int lo = HexDigit(static_cast<unsigned char>(text[in + 2]));
            text[out] = static_cast<char>((hi << 4) + lo);
            in += 3;
        } else {
            text[out] = text[in++];
        }
    }
    return out;
}

void CCgiParamList::Decode(CRawParamList& raw) {
    m_slots.clear();
    m_slots.reserve(2 * raw.Count());
    m_hasPairArray = true;
    m_cursor = 0;
    for (const std::string& item : raw.Items()) {
        size_t pos = 0, begin = 0, end = 0;
        if (!NextToken(item, pos, ": =\"", begin, end)) continue;
        m_slots.push_back(DecodeField(item.substr(begin, end - begin)));
        if (NextToken(item, pos, "\"\r\n", begin, end)) {
            m_slots.push_back(DecodeField(item.substr(begin, end - begin)));
        } else {
            m_slots.push_back(std::wstring());
        }
    }
}

void ParseRequest(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list) {
    CRawParamList raw;
    int status = CGI_OK;
    if (!request.method) {
        list.SetStatus(CGI_ERR_METHOD);
        return;
    }
    if (*request.method == "GET") {
        if (!request.queryString) return list.SetStatus(CGI_OK);
        Collect(request.queryString->data(), request.queryString->size(), raw);
    } else if (*request.method != "POST") {
        return list.SetStatus(CGI_ERR_METHOD);
    } else if (request.contentType && StartsWithNoCase(*request.contentType, "multipart/form-data")) {
        status = ParseMultipart(request, input, limits, raw);
    } else if (request.contentType && !StartsWithNoCase(*request.contentType, "application/x-www-form-urlencoded")) {
        return list.SetStatus(CGI_ERR_CONTENT_TYPE);
    } else {
        status = ParseUrlEncodedPost(request, input, limits, raw);
    }
    list.SetStatus(status);
    if (status == CGI_OK) list.Decode(raw);
}

}  // namespace plm
