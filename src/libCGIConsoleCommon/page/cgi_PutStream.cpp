// UTF-8 page output on the C runtime's standard output stream (msvcrt's stdout),
// the stream a page built with this toolchain prints to as well.
#include "cgi_PutStream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
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

// A failed write is reported once: the error flag is cleared, so the next write
// (the client may still read) is judged on its own.
bool Failed(const wchar_t* what) {
    const int error = errno;
    clearerr(stdout);
    WDX_TRACE(kTraceFailure, L"[OutputBytes] %s standard output failed! errno=%d", what, error);
    return false;
}

// Holds the stream's lock for a sequence of calls, so that another thread's write
// cannot fall between them (the runtime's file lock is recursive).
class CStdoutLock {
public:
    CStdoutLock() { _lock_file(stdout); }
    ~CStdoutLock() { _unlock_file(stdout); }
    CStdoutLock(const CStdoutLock&) = delete;
    CStdoutLock& operator=(const CStdoutLock&) = delete;
};

}  // namespace

bool OutputText(const std::string& utf8) {
    if (utf8.empty()) return true;
    return fwrite(utf8.data(), 1, utf8.size(), stdout) == utf8.size() || Failed(L"writing to");
}

bool OutputBinary(const void* data, size_t cb) {
    CStdoutLock lock;
    bool ok = fflush(stdout) == 0 || Failed(L"flushing");
    const int previous = _setmode(_fileno(stdout), _O_BINARY);
    if (cb > 0 && fwrite(data, 1, cb, stdout) != cb) ok = Failed(L"writing to");
    if (fflush(stdout) != 0) ok = Failed(L"flushing");
    if (previous != -1) _setmode(_fileno(stdout), previous);
    return ok;
}

bool FlushOutput() { return fflush(stdout) == 0 || Failed(L"flushing"); }

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
