#include "cgi_PrivateFiles.h"

#include <sddl.h>

#include <memory>
#include <vector>

namespace plm {
namespace {

struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};

// Text of the process user's SID, or empty.
std::wstring ProcessUserSid() {
    OS::UniqueHandle token;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::wstring();
    token.reset(raw);
    DWORD cb = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &cb);
    if (cb == 0) return std::wstring();
    // Whole 8-byte units: the record holds pointers and must be aligned for them.
    std::vector<ULONGLONG> buffer((cb + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), cb, &cb)) return std::wstring();
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::wstring();
    std::unique_ptr<wchar_t, LocalFreeDeleter> owned(text);
    return owned.get();
}

class CPrivateDescriptor {
public:
    CPrivateDescriptor() {
        const std::wstring sid = ProcessUserSid();
        if (sid.empty()) return;
        // P: protected, so the folder's inheritable entries never apply.
        const std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + sid + L")";
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return;
        m_descriptor.reset(descriptor);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = m_descriptor.get();
        m_attributes.bInheritHandle = FALSE;
    }
    SECURITY_ATTRIBUTES* Attributes() { return m_descriptor ? &m_attributes : nullptr; }

private:
    std::unique_ptr<void, LocalFreeDeleter> m_descriptor;
    SECURITY_ATTRIBUTES m_attributes = {};
};

}  // namespace

SECURITY_ATTRIBUTES* PrivateFileAttributes() {
    static CPrivateDescriptor descriptor;
    return descriptor.Attributes();
}

bool IsPlainFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    BY_HANDLE_FILE_INFORMATION own;
    if (!info) info = &own;
    if (!GetFileInformationByHandle(file, info)) return false;
    return !(info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info->nNumberOfLinks == 1;
}

OS::UniqueFile OpenPlainFile(const std::wstring& path, DWORD access, BY_HANDLE_FILE_INFORMATION* info) {
    OS::UniqueFile file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (file && !IsPlainFile(file.get(), info)) {
        file.reset();
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return file;
}

ULONGLONG FileTimeMs(const FILETIME& time) {
    return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000u;
}

ULONGLONG SystemNowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now);
}

bool DeleteThroughHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

}  // namespace plm
