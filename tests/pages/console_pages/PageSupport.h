// Small helpers of the sample console pages: UTF-8 and HTML text, and the
// response header written so that each line ends in exactly CR LF.
#pragma once
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace page {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(cb > 0 ? cb : 0), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], cb, nullptr, nullptr);
    return out;
}

inline std::wstring Html(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&':
            out += L"&amp;";
            break;
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        case L'"':
            out += L"&quot;";
            break;
        case L'\'':
            out += L"&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

inline std::wstring Env(const wchar_t* name) {
    wchar_t value[256];
    DWORD cch = GetEnvironmentVariableW(name, value, 256);
    return cch > 0 && cch < 256 ? std::wstring(value, cch) : std::wstring();
}

// Binary mode: in text mode every "\r\n" would leave as "\r\r\n".
inline void WriteRaw(const std::string& bytes) {
    fflush(stdout);
    int previous = _setmode(_fileno(stdout), _O_BINARY);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
    if (previous != -1) _setmode(_fileno(stdout), previous);
}

inline void WriteHeader(const char* contentType) {
    WriteRaw(std::string("Content-type: ") + contentType + "\r\nCache-Control: no-cache\r\n\r\n");
}

}  // namespace page
