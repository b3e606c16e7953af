// UTF-8 page output on the C runtime's standard output.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"

namespace plm {

// Stateless writer; counted because copies of a stream share it.
class CPutStreamImpl {
public:
    void AddOwner() { InterlockedIncrement(&m_owners); }
    void ReleaseOwner() {
        if (InterlockedDecrement(&m_owners) == 0) delete this;
    }
    void Write(const std::string& bytes) { fwrite(bytes.data(), 1, bytes.size(), stdout); }
    void WriteBinary(const void* data, size_t cb) {
        fflush(stdout);
        const int previous = _setmode(_fileno(stdout), _O_BINARY);
        fwrite(data, 1, cb, stdout);
        fflush(stdout);
        if (previous != -1) _setmode(_fileno(stdout), previous);
    }

private:
    volatile LONG m_owners = 1;
};

CPutStream::CPutStream(bool writeHeader) : m_pImpl(new CPutStreamImpl) {
    if (writeHeader) fputs("Pragma: no-cache\nContent-type: text/html;charset=utf-8\n\n", stdout);
}

CPutStream::CPutStream(const CPutStream& other) : m_pImpl(other.m_pImpl) { m_pImpl->AddOwner(); }

CPutStream& CPutStream::operator=(const CPutStream& other) {
    other.m_pImpl->AddOwner();
    m_pImpl->ReleaseOwner();
    m_pImpl = other.m_pImpl;
    return *this;
}

CPutStream::~CPutStream() { m_pImpl->ReleaseOwner(); }

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
    if (data && length > 0) m_pImpl->WriteBinary(data, static_cast<size_t>(length));
}

}  // namespace plm
