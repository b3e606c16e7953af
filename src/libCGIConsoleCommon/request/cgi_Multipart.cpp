// multipart/form-data bodies: part headers, part data into temporary files or
// a value buffer, and the raw items they contribute.
#include "cgi_Multipart.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "cgi_Utf8.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

namespace plm {
namespace {

using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_Multipart";
const size_t kBufferSize = 4096;
const size_t kMaxBoundary = 259;
const size_t kMaxFieldName = 255;
const size_t kMaxFileName = 259;
const size_t kMaxValue = 259;  // the 260-byte value buffer with its terminator
const uint64_t kDefaultUploadM = 64;

// The 4096-byte read buffer over the body; never reads past the body length.
class CPartBuffer {
public:
    CPartBuffer(ICgiInput& input, uint64_t cbBody)
        : m_input(input), m_cbLeft(cbBody), m_data(new char[kBufferSize + 1]()) {}

    // Fills the buffer to its size or to the end of the body.
    void TopUp() {
        while (m_fill < kBufferSize && m_cbLeft > 0 && !m_eof) {
            size_t want = std::min<uint64_t>(kBufferSize - m_fill, m_cbLeft);
            size_t got = std::min(m_input.Read(m_data.get() + m_fill, want), want);
            if (got == 0) m_eof = true;
            m_fill += got;
            m_cbLeft -= got;
        }
        m_data[m_fill] = '\0';
    }
    bool Exhausted() const { return m_eof || m_cbLeft == 0; }
    const char* Data() const { return m_data.get(); }
    size_t Fill() const { return m_fill; }
    bool StartsWith(const char* text, size_t cb) const { return m_fill >= cb && memcmp(m_data.get(), text, cb) == 0; }
    // Drops the first cb bytes; only the filled bytes after them move.
    void Consume(size_t cb) {
        cb = std::min(cb, m_fill);
        memmove(m_data.get(), m_data.get() + cb, m_fill - cb);
        m_fill -= cb;
        m_data[m_fill] = '\0';
    }

private:
    ICgiInput& m_input;
    uint64_t m_cbLeft;
    bool m_eof = false;
    std::unique_ptr<char[]> m_data;
    size_t m_fill = 0;
};

struct SPartHeader {
    std::string fieldName;
    std::string fileName;
};

const char kHeaderDelims[] = ":;=\r\n";
const char kValueDelims[] = ";=\r\n";

bool IsDelim(char c, const char* delims) { return c != '\0' && strchr(delims, c) != nullptr; }

// strtok-style scan of the filled bytes (a zero byte ends them). A value that
// opens with a double quote runs to its closing quote, so "=", ":" and ";"
// inside a quoted name stay part of it.
struct CHeaderScanner {
    const char* data;
    size_t end;
    size_t pos = 0;

    bool Next(const char* delims, size_t& begin, size_t& stop, bool quoted = false) {
        while (pos < end && IsDelim(data[pos], delims)) ++pos;
        if (pos >= end || data[pos] == '\0') return false;
        begin = pos;
        bool inQuotes = false;
        for (; pos < end && data[pos] != '\0'; ++pos) {
            char c = data[pos];
            if (c == '\r' || c == '\n') inQuotes = false;  // a quote never spans lines
            if (quoted && c == '"' && (pos == begin || inQuotes)) {
                inQuotes = !inQuotes;
                continue;
            }
            if (!inQuotes && IsDelim(c, delims)) break;
        }
        stop = pos;
        if (pos < end && data[pos] != '\0') ++pos;
        return true;
    }
};

bool EqualsNoCase(const char* data, size_t begin, size_t stop, const char* word) {
    size_t cb = strlen(word);
    return stop - begin == cb && _strnicmp(data + begin, word, cb) == 0;
}

bool Contains(const char* data, size_t begin, size_t stop, const char* word) {
    return std::search(data + begin, data + stop, word, word + strlen(word)) != data + stop;
}

// Longest prefix of at most cbMax bytes; a cut text that is UTF-8 loses the
// incomplete character at its end instead of keeping half of it.
std::string CutToFit(const char* text, size_t cbText, size_t cbMax) {
    if (cbText <= cbMax) return std::string(text, cbText);
    size_t cut = cbMax;
    while (cut > 0 && cbMax - cut < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(cut), nullptr, 0) > 0)
        return std::string(text, cut);
    return std::string(text, cbMax);
}

std::string StripQuotes(const char* data, size_t begin, size_t stop) {
    if (begin < stop && data[begin] == '"') ++begin;
    if (begin < stop && data[stop - 1] == '"') --stop;
    return std::string(data + begin, stop - begin);
}

// Offset where the part's data begins: after the header block's blank line.
// npos when that line is not among the filled bytes. Only the header block is
// scanned, so a header line the scan does not know (a charset parameter, say)
// cannot make part data count as header text.
size_t ScanPartHeader(const char* data, size_t fill, SPartHeader& header) {
    static const char kBlankLine[] = "\r\n\r\n";
    const char* end = data + strnlen(data, fill);
    const char* blank = std::search(data, end, kBlankLine, kBlankLine + 4);
    if (blank == end) return std::string::npos;
    CHeaderScanner scan{data, static_cast<size_t>(blank - data) + 2};
    size_t begin = 0, stop = 0;
    while (scan.Next(kHeaderDelims, begin, stop)) {
        size_t vBegin = 0, vStop = 0;
        if (EqualsNoCase(data, begin, stop, "Content-type") || EqualsNoCase(data, begin, stop, "content-disposition")) {
            scan.Next(kValueDelims, vBegin, vStop);
        } else if (Contains(data, begin, stop, "filename")) {
            if (!scan.Next(kValueDelims, vBegin, vStop, true)) break;
            std::string name = StripQuotes(data, vBegin, vStop);
            header.fileName = CutToFit(name.data(), name.size(), kMaxFileName);
        } else if (Contains(data, begin, stop, "name")) {
            if (!scan.Next(kHeaderDelims, vBegin, vStop, true)) break;
            std::string name = StripQuotes(data, vBegin, vStop);
            header.fieldName = CutToFit(name.data(), name.size(), kMaxFieldName);
        }
    }
    return static_cast<size_t>(blank - data) + 4;
}

// Where the part data goes.
class IPartSink {
public:
    virtual void Write(const char* data, size_t cb) = 0;

protected:
    ~IPartSink() = default;
};

// Writes through the handle that created the file. After a failed write the
// rest is skipped and the part must not be published.
class CFileSink : public IPartSink {
public:
    explicit CFileSink(HANDLE file) : m_file(file) {}
    void Write(const char* data, size_t cb) override {
        DWORD written = 0;
        if (m_failed || cb == 0) return;
        if (!WriteFile(m_file, data, static_cast<DWORD>(cb), &written, nullptr) || written != cb) {
            DWORD err = GetLastError();
            WDX_TRACE(kTraceService, L"[CopyPartData] WriteFile failed! err=%d", static_cast<int>(err));
            m_failed = true;
        }
    }
    bool Failed() const { return m_failed; }

private:
    HANDLE m_file;
    bool m_failed = false;
};

// The 260-byte value buffer: keeps what fits, notes that more came.
class CValueSink : public IPartSink {
public:
    void Write(const char* data, size_t cb) override {
        size_t room = kMaxValue + 1 - std::min(m_text.size(), kMaxValue + 1);
        m_text.append(data, std::min(cb, room));
    }
    std::string Value() const {
        size_t cb = strnlen(m_text.data(), m_text.size());  // the buffer is zero-terminated
        return CutToFit(m_text.data(), cb, kMaxValue);
    }

private:
    std::string m_text;  // at most one byte more than fits, to see the cut
};

class CMultipartReader {
public:
    CMultipartReader(ICgiInput& input, uint64_t cbBody, const std::string& boundary, const SCgiLimits& limits,
                     CRawParamList& raw, CRequestTempFiles& files)
        : m_buffer(input, cbBody),
          m_cbBody(cbBody),
          m_delimiter("\r\n--" + boundary),
          m_searcher(m_delimiter.begin(), m_delimiter.end()),
          m_limits(limits),
          m_raw(raw),
          m_files(files) {}

    int Run();

private:
    bool CopyPartData(IPartSink& sink);
    int CopyFilePart(const SPartHeader& header, bool& complete);
    void CopyTextPart(const SPartHeader& header, bool& complete);
    void SkipFirstDelimiter();
    bool AtCloseDelimiter();

    CPartBuffer m_buffer;
    uint64_t m_cbBody;
    std::string m_delimiter;
    std::boyer_moore_horspool_searcher<std::string::const_iterator> m_searcher;
    const SCgiLimits& m_limits;
    CRawParamList& m_raw;
    CRequestTempFiles& m_files;
};

// Part data up to the next delimiter (CR LF "--" boundary), which is consumed.
// False when the body ends first.
bool CMultipartReader::CopyPartData(IPartSink& sink) {
    for (;;) {
        m_buffer.TopUp();
        const char* data = m_buffer.Data();
        size_t fill = m_buffer.Fill();
        const char* found = std::search(data, data + fill, m_searcher);
        if (found != data + fill) {
            size_t cbData = static_cast<size_t>(found - data);
            sink.Write(data, cbData);
            m_buffer.Consume(cbData + m_delimiter.size());
            return true;
        }
        if (m_buffer.Exhausted()) return false;
        // The tail may hold the start of a delimiter that the next read completes.
        size_t cbWrite = fill - std::min(fill, m_delimiter.size() - 1);
        sink.Write(data, cbWrite);
        m_buffer.Consume(cbWrite);
    }
}

// A file part: its data goes into a new temporary file of the server's TEMP
// folder. Refused (3903) without a server folder, when no file can be made or
// when its data cannot be written whole; a request with more than
// kMaxFileParts files, or one the uploads' budget cannot hold, is refused
// (3902). A failure status makes the caller drop every file of the request.
int CMultipartReader::CopyFilePart(const SPartHeader& header, bool& complete) {
    if (m_limits.serverFolder.empty()) {
        WDX_TRACE(kTraceService, L"[ParseMultipart] no server folder for an upload");
        return CGI_ERR_NO_TEMP_NAME;
    }
    if (m_files.Count() >= kMaxFileParts) {
        WDX_TRACE(kTraceService, L"[ParseMultipart] more than %d files in one request",
                  static_cast<int>(kMaxFileParts));
        return CGI_ERR_UPLOAD_TOO_LARGE;
    }
    const std::wstring folder = m_limits.serverFolder + L"\\TEMP\\";
    if (!m_files.MakeRoom(folder, m_cbBody)) return CGI_ERR_UPLOAD_TOO_LARGE;
    if (!m_files.Create(folder, L"KPS")) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceService, L"[ParseMultipart] CreateFile failed! err=%d", static_cast<int>(err));
        return CGI_ERR_NO_TEMP_NAME;
    }
    CFileSink sink(m_files.LastHandle());
    complete = CopyPartData(sink);
    if (sink.Failed()) return CGI_ERR_NO_TEMP_NAME;
    if (!complete) {
        m_files.DiscardLast();
        return CGI_OK;
    }
    const size_t file = m_files.Count() - 1;
    std::string escapedPath = EscapeMultipartText(WideToUtf8(m_files.LastPath()));
    if (!header.fieldName.empty())
        m_raw.AddStored(EscapeMultipartText(MultipartTextToUtf8(header.fieldName)) + "=" + escapedPath, file, false);
    m_raw.AddStored("TempFileName=" + escapedPath, file, true);
    return CGI_OK;
}

void CMultipartReader::CopyTextPart(const SPartHeader& header, bool& complete) {
    CValueSink sink;
    complete = CopyPartData(sink);
    std::string value = sink.Value();
    if (!complete || value.empty() || header.fieldName.empty()) return;
    m_raw.Add(EscapeMultipartText(MultipartTextToUtf8(header.fieldName)) + "=" +
              EscapeMultipartText(MultipartTextToUtf8(value)));
}

void CMultipartReader::SkipFirstDelimiter() {
    m_buffer.TopUp();
    const char* dashed = m_delimiter.c_str() + 2;  // the first line has no CR LF before it
    if (m_buffer.StartsWith(dashed, m_delimiter.size() - 2)) m_buffer.Consume(m_delimiter.size() - 2);
}

// After a delimiter: "--" closes the body; anything after it is not read.
bool CMultipartReader::AtCloseDelimiter() {
    m_buffer.TopUp();
    if (m_buffer.StartsWith("--", 2)) return true;
    if (m_buffer.StartsWith("\r\n", 2)) m_buffer.Consume(2);
    return false;
}

int CMultipartReader::Run() {
    SkipFirstDelimiter();
    for (;;) {
        if (AtCloseDelimiter()) return CGI_OK;
        SPartHeader header;
        size_t dataStart = ScanPartHeader(m_buffer.Data(), m_buffer.Fill(), header);
        if (dataStart == std::string::npos) return CGI_OK;
        m_buffer.Consume(dataStart);
        bool complete = false;
        if (!header.fileName.empty()) {
            int status = CopyFilePart(header, complete);
            if (status != CGI_OK) return status;
        } else {
            CopyTextPart(header, complete);
        }
        if (!complete) {
            WDX_TRACE(kTraceService, L"[ParseMultipart] body ended inside a part; the part is dropped");
            return CGI_OK;
        }
    }
}

bool IsEscapedInMultipart(unsigned char c) {
    return c == '%' || c == '\r' || c == '\n' || c == '"' || c == ':' || c == ' ' || c == '=';
}

}  // namespace

std::string MultipartTextToUtf8(const std::string& text) {
    int cch =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    UINT codePage = cch > 0 ? CP_UTF8 : CP_ACP;
    DWORD flags = cch > 0 ? MB_ERR_INVALID_CHARS : 0;
    cch = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (cch <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], cch);
    return WideToUtf8(wide);
}

std::string EscapeMultipartText(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (IsEscapedInMultipart(u)) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string MultipartBoundary(const std::string& contentType) {
    static const char kParam[] = "boundary=";
    const size_t cbParam = sizeof kParam - 1;
    size_t at = std::string::npos;
    for (size_t i = 0; i + cbParam <= contentType.size(); ++i) {
        if (_strnicmp(contentType.c_str() + i, kParam, cbParam) == 0) {
            at = i + cbParam;
            break;
        }
    }
    if (at == std::string::npos) return std::string();
    size_t stop;
    if (at < contentType.size() && contentType[at] == '"') {
        ++at;
        stop = contentType.find('"', at);
    } else {
        stop = contentType.find_first_of("; \t", at);
    }
    if (stop == std::string::npos) stop = contentType.size();
    return contentType.substr(at, std::min(stop - at, kMaxBoundary));
}

int ParseMultipart(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw,
                   CRequestTempFiles& files) {
    if (!input.SwitchToBinary()) return CGI_ERR_BINARY_MODE;
    uint64_t cbBody = ParseContentLength(request.contentLength);
    uint64_t limitM = limits.maxUploadSizeM > 0 ? static_cast<uint64_t>(limits.maxUploadSizeM) : kDefaultUploadM;
    if (cbBody > limitM * 1048576u) return CGI_ERR_UPLOAD_TOO_LARGE;
    if (!files.Admits(cbBody)) {
        WDX_TRACE(kTraceFailure, L"[ParseMultipart] the body is larger than the uploads' whole budget; refused");
        return CGI_ERR_UPLOAD_TOO_LARGE;
    }
    std::string boundary = MultipartBoundary(request.contentType ? *request.contentType : std::string());
    if (boundary.empty()) {
        WDX_TRACE(kTraceService, L"[ParseMultipart] no boundary in the content type");
        return CGI_OK;
    }
    return CMultipartReader(input, cbBody, boundary, limits, raw, files).Run();
}

}  // namespace plm
