// Conversion between wide (UTF-16) text and narrow text of a Windows code page.
#pragma once
#include <windows.h>

#include <string>

namespace MBWC {
// Converts NUL-terminated wide text into the caller's buffer of nMultiByteLength
// bytes. Returns the bytes written including the NUL, or 0 (buffer untouched when
// it is too small).
int WCToMB(const wchar_t* pszWideCharStr, char* pszMultiByteStr, int nMultiByteLength, UINT CodePage, DWORD dwFlags);
// Converts NUL-terminated narrow text into out. Returns the wide characters written
// including the NUL, or 0 with *error set (when given) and out unchanged.
int MBToWC(const char* text, std::wstring& out, UINT codePage, DWORD flags, DWORD* error);
// The text (embedded NULs included) in the system ANSI code page, cut to at most
// maxBytes bytes; empty when it cannot be converted exactly (a character
// without a form of its own in the code page is not replaced by a look-alike
// or by "?": the whole text is refused).
std::string ToAnsi(const std::wstring& text, size_t maxBytes = std::string::npos);
// NUL-terminated text of the system ANSI code page as wide text; empty when it
// is empty or not convertible.
std::wstring AnsiToWide(const char* text);
}  // namespace MBWC
