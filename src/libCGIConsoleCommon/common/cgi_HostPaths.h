// Where the running console program lives and what it runs with: its folder,
// the server folder above it, the console kind, the server's settings and
// environment variables.
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

// Folder of the running program with its final backslash; empty when its path
// does not fit in MAX_PATH characters.
std::wstring RunningProgramFolder();

// Integer setting of an ini file of the server folder ("kpsscan.ini" unless file
// names another); the default when it is missing.
int ReadServerIniInt(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* file = nullptr);

// The value of an environment variable, at most maxChars characters; false
// when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring& value, size_t maxChars);

}  // namespace plm
