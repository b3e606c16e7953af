// UTF-8 page output through the library's own buffer to the standard output
// handle.
#include "cgi_PutStream.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "cgi_CountedImpl.h"
#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"

namespace plm {
namespace {

using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_PutStream";

// The handle is asked at every write: a program (or a test) may redirect it.
bool WriteToStdout(const char* data, size_t cb) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    while (cb > 0) {
        const DWORD piece = cb > 0x10000 ? 0x10000 : static_cast<DWORD>(cb);
        DWORD written = 0;
        if (out == nullptr || out == INVALID_HANDLE_VALUE || !WriteFile(out, data, piece, &written, nullptr) ||
            written == 0) {
            const DWORD error = GetLastError();
            WDX_TRACE(kTraceFailure, L"[OutputBytes] WriteFile to standard output failed! err=%d", error);
            return false;
        }
        data += written;
        cb -= written;
    }
    return true;
}

// One per process; written out when full, on request, before binary output and
// when the process ends (static destruction at exit or unload).
class COutputBuffer {
public:
    // At exit no other thread runs any more, and one may have died holding the lock.
    ~COutputBuffer() { FlushLocked(); }

    bool Append(const char* data, size_t cb) {
        std::lock_guard<std::mutex> lock(m_lock);
        bool ok = true;
        while (cb > 0) {
            if (m_cb == sizeof(m_bytes)) ok = FlushLocked() && ok;
            const size_t piece = cb < sizeof(m_bytes) - m_cb ? cb : sizeof(m_bytes) - m_cb;
            memcpy(m_bytes + m_cb, data, piece);
            m_cb += piece;
            data += piece;
            cb -= piece;
        }
        return ok;
    }

    bool AppendText(const std::string& text) {
        bool ok = true;
        size_t start = 0;
        for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
            ok = Append(text.data() + start, lf - start) && ok;
            ok = Append("\r\n", 2) && ok;
            start = lf + 1;
        }
        return Append(text.data() + start, text.size() - start) && ok;
    }

    bool WriteThrough(const char* data, size_t cb) {
        std::lock_guard<std::mutex> lock(m_lock);
        const bool flushed = FlushLocked();
        return WriteToStdout(data, cb) && flushed;
    }

    bool Flush() {
        std::lock_guard<std::mutex> lock(m_lock);
        return FlushLocked();
    }

private:
    bool FlushLocked() {
        const bool ok = WriteToStdout(m_bytes, m_cb);
        m_cb = 0;
        return ok;
    }

    std::mutex m_lock;
    char m_bytes[4096] = {};  // what a C runtime's stdout buffer holds on a pipe
    size_t m_cb = 0;
};

COutputBuffer g_output;

}  // namespace

bool OutputBytes(const void* data, size_t cb) { return g_output.Append(static_cast<const char*>(data), cb); }
bool OutputText(const std::string& utf8) { return g_output.AppendText(utf8); }
bool OutputBinary(const void* data, size_t cb) { return g_output.WriteThrough(static_cast<const char*>(data), cb); }
bool FlushOutput() { return g_output.Flush(); }

// Stateless writer; counted because copies of a stream share it.
class CPutStreamImpl : public CCountedImpl {};

CPutStream::CPutStream(bool writeHeader) : m_pImpl(new CPutStreamImpl) {
    if (writeHeader) OutputText("Pragma: no-cache\nContent-type: text/html;charset=utf-8\n\n");
}

CPutStream::CPutStream(const CPutStream& other) : m_pImpl(ShareImpl(other.m_pImpl)) {}

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): AssignImpl shares before it releases
CPutStream& CPutStream::operator=(const CPutStream& other) {
    AssignImpl(m_pImpl, other.m_pImpl);
    return *this;
}

CPutStream::~CPutStream() { ReleaseImpl(m_pImpl); }

CPutStream& CPutStream::operator<<(const wchar_t* text) {
    if (text) OutputText(WideToUtf8(text, wcslen(text)));
    return *this;
}

CPutStream& CPutStream::operator<<(const char* text) {
    if (text) OutputText(WideToUtf8(MBWC::AnsiToWide(text)));
    return *this;
}

CPutStream& CPutStream::operator<<(int value) {
    char text[16];
    snprintf(text, sizeof(text), "%d", value);
    OutputText(text);
    return *this;
}

void CPutStream::WriteBinary(const void* data, int length) {
    if (data && length > 0) OutputBinary(data, static_cast<size_t>(length));
}

}  // namespace plm
