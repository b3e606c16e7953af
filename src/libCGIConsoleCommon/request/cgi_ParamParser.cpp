// Reading a request: method dispatch, URL-encoded items, their decoding into
// UTF-16 pairs, and the binary block that a URL-encoded body may carry.
#include "cgi_ParamParser.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "cgi_Multipart.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

namespace plm {
namespace {

using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_ParamParser";
const char kBinaryMarker[] = "BinaryDataBlock=";
const uint64_t kBodyReserveCap = 16u << 20;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t cb = strlen(prefix);
    return text.size() >= cb && _strnicmp(text.c_str(), prefix, cb) == 0;
}

bool IsCollectSeparator(char c) { return c == '&' || c == '\r' || c == '\n'; }

std::string ReadBody(ICgiInput& input, uint64_t cbBody) {
    std::string body;
    // Room for the whole body up front (growing by copies would double the
    // peak), but no more than kBodyReserveCap on the word of CONTENT_LENGTH.
    body.reserve(static_cast<size_t>(cbBody < kBodyReserveCap ? cbBody : kBodyReserveCap));
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
// without the folder, or empty when it cannot be stored whole. Room in the
// uploads' budget is made by the caller.
std::string StoreBinaryBlock(const char* block, size_t cbBlock, const std::wstring& serverFolder,
                             CRequestTempFiles& files) {
    if (serverFolder.empty()) {
        WDX_TRACE(kTraceService, L"[StoreBinaryBlock] no server folder");
        return std::string();
    }
    if (!files.Create(serverFolder + L"Temp\\", L"Cfw")) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceService, L"[StoreBinaryBlock] CreateFile failed! err=%d", static_cast<int>(err));
        return std::string();
    }
    DWORD written = 0;
    if (cbBlock > MAXDWORD || !WriteFile(files.LastHandle(), block, static_cast<DWORD>(cbBlock), &written, nullptr) ||
        written != cbBlock) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceService, L"[StoreBinaryBlock] write failed! err=%d", static_cast<int>(err));
        return std::string();
    }
    const std::wstring& path = files.LastPath();
    const wchar_t* name = wcsrchr(path.c_str(), L'\\');
    name = name ? name + 1 : path.c_str();
    char narrow[MAX_PATH] = {};
    int cb = WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, static_cast<int>(sizeof narrow - sizeof kBinaryMarker),
                                 nullptr, nullptr);
    return cb > 0 ? std::string(narrow) : std::string();
}

// A body whose last item is the marker, directly followed by its separator and
// then a zero byte (or the end), carries the bytes after the separator as a
// block. 3903 when the block cannot be stored, 3902 when the uploads' budget
// cannot hold it.
int AttachBinaryBlock(const std::string& body, size_t lastItemEnd, CRawParamList& raw, const std::wstring& serverFolder,
                      CRequestTempFiles& files) {
    if (raw.Count() == 0 || lastItemEnd >= body.size() || raw.LastItem() != kBinaryMarker) return CGI_OK;
    if (!IsCollectSeparator(body[lastItemEnd])) return CGI_OK;
    size_t blockStart = lastItemEnd + 1;
    if (blockStart < body.size() && body[blockStart] != '\0') return CGI_OK;
    const uint64_t cbBlock = body.size() - blockStart;
    if (!serverFolder.empty() && (!files.Admits(cbBlock) || !files.MakeRoom(serverFolder + L"Temp\\", cbBlock))) {
        WDX_TRACE(kTraceFailure, L"[StoreBinaryBlock] the uploads' budget cannot hold the block; refused");
        return CGI_ERR_UPLOAD_TOO_LARGE;
    }
    std::string name = StoreBinaryBlock(body.data() + blockStart, body.size() - blockStart, serverFolder, files);
    if (name.empty()) return CGI_ERR_NO_TEMP_NAME;
    raw.AppendToLast(name);
    raw.MarkLastStored(files.Count() - 1);
    return CGI_OK;
}

// Items of a URL-encoded body; returns where the last item ends (0 without items).
size_t CollectBody(const std::string& body, CRawParamList& raw) {
    Collect(body.data(), body.size(), raw);
    size_t cb = strnlen(body.data(), body.size());
    while (cb > 0 && IsCollectSeparator(body[cb - 1])) --cb;
    return cb;
}

int ParseUrlEncodedPost(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw,
                        CRequestTempFiles& files) {
    uint64_t cbBody = ParseContentLength(request.contentLength);
    int64_t cbLimit = static_cast<int64_t>(limits.maxPostSizeK) * 1024;
    if (cbBody == 0 || cbLimit < 0 || cbBody > static_cast<uint64_t>(cbLimit)) return CGI_OK;
    if (!input.SwitchToBinary()) return CGI_ERR_BINARY_MODE;
    std::string body = ReadBody(input, cbBody);
    size_t lastItemEnd = CollectBody(body, raw);
    return AttachBinaryBlock(body, lastItemEnd, raw, limits.serverFolder, files);
}

}  // namespace

bool CStdinInput::SwitchToBinary() { return _setmode(_fileno(stdin), _O_BINARY) != -1; }

size_t CStdinInput::Read(void* buffer, size_t cbBuffer) { return fread(buffer, 1, cbBuffer, stdin); }

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
    raw.Reserve(raw.ByteLength() + raw.Count() + cb + 1);  // items and their ends never outgrow the text
    size_t start = 0;
    for (size_t i = 0; i <= cb; ++i) {
        if (i == cb || IsCollectSeparator(text[i])) {
            raw.Add(text + start, i - start, true);
            start = i + 1;
        }
    }
}

namespace {

// Parses into list; a standard exception leaves it, with the request's files deleted.
void ParseOrThrow(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list) {
    CRawParamList raw;
    CRequestTempFiles files(limits.openPartFile, limits.uploadBudget);
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
        status = ParseMultipart(request, input, limits, raw, files);
    } else if (request.contentType && !StartsWithNoCase(*request.contentType, "application/x-www-form-urlencoded")) {
        return list.SetStatus(CGI_ERR_CONTENT_TYPE);
    } else {
        status = ParseUrlEncodedPost(request, input, limits, raw, files);
    }
    list.SetStatus(status);
    if (status != CGI_OK) return;  // the files go with the failed parse
    const size_t dropped = list.Decode(raw);
    list.AdoptFiles(files);
    if (dropped > 0)
        WDX_TRACE(kTraceFailure, L"[ParseRequest] %d client item(s) named TempFileName or BinaryDataBlock dropped",
                  static_cast<int>(dropped));
}

}  // namespace

void ParseRequest(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list) {
    try {
        ParseOrThrow(request, input, limits, list);
    } catch (const std::bad_alloc&) {
        list.Reset(CGI_ERR_UPLOAD_TOO_LARGE);
        WDX_TRACE(kTraceFailure, L"[ParseRequest] out of memory; the request yields no parameters");
    } catch (const std::exception&) {  // length_error: a size beyond what this process can hold
        list.Reset(CGI_ERR_UPLOAD_TOO_LARGE);
        WDX_TRACE(kTraceFailure,
                  L"[ParseRequest] a size beyond this process's reach; the request yields no parameters");
    }
}

}  // namespace plm
