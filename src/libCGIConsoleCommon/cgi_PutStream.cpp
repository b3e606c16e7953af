// UTF-8 page output on the C runtime's standard output.
#include "cgi_PutStream.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "cgi_CountedImpl.h"
#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"

namespace plm {

// Stateless writer; counted because copies of a stream share it.
class CPutStreamImpl : public CCountedImpl {
public:
    void Write(const std::string& bytes) { fwrite(bytes.data(), 1, bytes.size(), stdout); }
};

void WriteStdoutBinary(const void* data, size_t cb) {
    fflush(stdout);
    const int previous = _setmode(_fileno(stdout), _O_BINARY);
    fwrite(data, 1, cb, stdout);
    fflush(stdout);
    if (previous != -1) _setmode(_fileno(stdout), previous);
}

CPutStream::CPutStream(bool writeHeader) : m_pImpl(new CPutStreamImpl) {
    if (writeHeader) fputs("Pragma: no-cache\nContent-type: text/html;charset=utf-8\n\n", stdout);
}

CPutStream::CPutStream(const CPutStream& other) : m_pImpl(ShareImpl(other.m_pImpl)) {}

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): AssignImpl shares before it releases
CPutStream& CPutStream::operator=(const CPutStream& other) {
    AssignImpl(m_pImpl, other.m_pImpl);
    return *this;
}

CPutStream::~CPutStream() { ReleaseImpl(m_pImpl); }

CPutStream& CPutStream::operator<<(const wchar_t* text) {
    if (text) m_pImpl->Write(WideToUtf8(text, wcslen(text)));
    return *this;
}

CPutStream& CPutStream::operator<<(const char* text) {
    if (text) m_pImpl->Write(WideToUtf8(MBWC::AnsiToWide(text)));
    return *this;
}

CPutStream& CPutStream::operator<<(int value) {
    char text[16];
    snprintf(text, sizeof(text), "%d", value);
    m_pImpl->Write(text);
    return *this;
}

void CPutStream::WriteBinary(const void* data, int length) {
    if (data && length > 0) WriteStdoutBinary(data, static_cast<size_t>(length));
}

}  // namespace plm
