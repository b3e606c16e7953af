// Helpers shared by the web-console units: host paths, the library's own UTF-8
// conversions and the server's settings.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace plm {

// Server folder of exePath: everything up to and including the last "KPSSRV\"
// (a leading "\\?\" dropped). Empty when there is none or it does not fit in
// cchFolder characters with its terminator.
void GetServerFolderOf(const wchar_t* exePath, wchar_t* folder, size_t cchFolder);
// The same for the running executable.
void GetServerFolder(wchar_t* folder, size_t cchFolder);

// Console kind of exePath (CONSOLE_KIND_*); for kinds 88, 108 and 109 cgiFolder
// (when given) receives the console's CGI folder, else the empty string.
int GetConsoleKindOf(const wchar_t* exePath, wchar_t* cgiFolder, size_t cchCgiFolder);
int GetConsoleKind(wchar_t* cgiFolder = nullptr, size_t cchCgiFolder = 0);

// The library's own encoder: one to three bytes per UTF-16 unit, four for a
// valid surrogate pair; a lone surrogate is encoded on its own.
std::string WideToUtf8(const wchar_t* text, size_t length);
inline std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }
// The library's own decoder: four-byte forms up to U+10FFFF become surrogate
// pairs; overlong two- and three-byte forms are accepted.
// False, out untouched, when text is not convertible.
bool Utf8ToWide(const char* text, size_t length, std::wstring& out);

// NUL-terminated text of the system ANSI code page as wide text; empty when it
// is empty or not convertible.
std::wstring AnsiToWide(const char* text);

// Request text for a trace line: control characters as \r, \n, \t or \xHH,
// so that a line of the log stays one line.
std::wstring EscapeForTrace(const wchar_t* text);

// Integer setting of an ini file of the server folder ("kpsscan.ini" unless file
// names another); the default when it is missing.
int ReadServerIniInt(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* file = nullptr);

}  // namespace plm
