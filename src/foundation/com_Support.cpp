// The pieces of the COM support library that the compiler's comutil.h/comdef.h
// declare but do not provide, and the COM error message text.
#include "foundation/com_Support.h"

#include <climits>
#include <cwchar>
#include <new>

namespace _com_util {

// Narrow text (ANSI code page) to a new BSTR; null gives null. Failures throw _com_error.
BSTR WINAPI ConvertStringToBSTR(const char* pSrc) {
    if (pSrc == nullptr) return nullptr;
    const int cch = MultiByteToWideChar(CP_ACP, 0, pSrc, -1, nullptr, 0);
    if (cch <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(cch - 1));
    if (text == nullptr) _com_issue_error(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, pSrc, -1, text, cch) == 0) {
        const DWORD error = GetLastError();
        SysFreeString(text);
        _com_issue_error(HRESULT_FROM_WIN32(error));
    }
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): _com_issue_error throws but is not declared noreturn
    return text;
}

// BSTR to new narrow text (ANSI code page, new char[]); null gives null.
char* WINAPI ConvertBSTRToString(BSTR pSrc) {
    if (pSrc == nullptr) return nullptr;
    const UINT cchSrc = SysStringLen(pSrc);
    if (cchSrc >= static_cast<UINT>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    // Includes the terminating NUL that every BSTR carries after its characters.
    const int cchWithNul = static_cast<int>(cchSrc) + 1;
    const int cb = WideCharToMultiByte(CP_ACP, 0, pSrc, cchWithNul, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    char* text = new (std::nothrow) char[static_cast<size_t>(cb)];
    if (text == nullptr) _com_issue_error(E_OUTOFMEMORY);
    if (WideCharToMultiByte(CP_ACP, 0, pSrc, cchWithNul, text, cb, nullptr, nullptr) == 0) {
        const DWORD error = GetLastError();
        delete[] text;
        _com_issue_error(HRESULT_FROM_WIN32(error));
    }
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): _com_issue_error throws but is not declared noreturn
    return text;
}

}  // namespace _com_util

namespace OS {

namespace {
// The system's message for hr, or an empty text when there is none.
std::wstring SystemMessage(HRESULT hr) {
    wchar_t* message = nullptr;
    const DWORD cch =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (cch == 0 || message == nullptr) return std::wstring();
    std::wstring text(message, cch);
    LocalFree(message);
    if (!text.empty() && text.back() == L'\n') {
        text.pop_back();
        if (!text.empty() && text.back() == L'\r') text.pop_back();
    }
    return text;
}
}  // namespace

std::wstring ComErrorFallbackMessage(HRESULT hr) {
    wchar_t text[32] = {};
    const DWORD code = static_cast<DWORD>(hr);
    if (code >= 0x80040201UL && code <= 0x8004FFFFUL) {
        _snwprintf_s(text, 32, _TRUNCATE, L"IDispatch error #%d", static_cast<int>(code - 0x80040200UL));
    } else {
        _snwprintf_s(text, 32, _TRUNCATE, L"Unknown error 0x%0lX", static_cast<unsigned long>(code));
    }
    return text;
}

std::wstring ComErrorMessage(const _com_error& error) {
    std::wstring text = SystemMessage(error.Error());
    return text.empty() ? ComErrorFallbackMessage(error.Error()) : text;
}

}  // namespace OS
