// Where the running console program lives and what it runs with.
#include "cgi_HostPaths.h"

#include <cwchar>

#include "console/plm_Console.h"
#include "foundation/str_Text.h"

namespace plm {
namespace {

const wchar_t kServerMarker[] = L"KPSSRV\\";
const size_t kMarkerChars = sizeof(kServerMarker) / sizeof(wchar_t) - 1;

const wchar_t* SkipLongPathPrefix(const wchar_t* path) { return wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path; }

// Position just past the last "KPSSRV\" in path, or null. The last, where the add-on
// root drops the first: a page lives below the innermost server folder of its path.
const wchar_t* AfterLastMarker(const wchar_t* path) {
    const wchar_t* found = nullptr;
    for (const wchar_t* p = wcsstr(path, kServerMarker); p; p = wcsstr(p + 1, kServerMarker)) found = p;
    return found ? found + kMarkerChars : nullptr;
}

// A folder cut short names another folder: all of it or nothing (out empty).
void CopyWhole(const wchar_t* text, size_t cchText, wchar_t* out, size_t cchOut) {
    if (out && cchOut > 0) Str::CopyBounded(out, cchOut, text, cchText < cchOut ? cchText : 0);
}

void RunningExePath(wchar_t (&path)[MAX_PATH + 1]) {
    DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH);
    path[cch < MAX_PATH ? cch : MAX_PATH] = L'\0';
}

}  // namespace

void GetServerFolderOf(const wchar_t* exePath, wchar_t* folder, size_t cchFolder) {
    if (!folder || cchFolder == 0) return;
    folder[0] = L'\0';
    if (!exePath) return;
    const wchar_t* path = SkipLongPathPrefix(exePath);
    const wchar_t* end = AfterLastMarker(path);
    if (end) CopyWhole(path, static_cast<size_t>(end - path), folder, cchFolder);
}

void GetServerFolder(wchar_t* folder, size_t cchFolder) {
    wchar_t exe[MAX_PATH + 1];
    RunningExePath(exe);
    GetServerFolderOf(exe, folder, cchFolder);
}

int GetConsoleKindOf(const wchar_t* exePath, wchar_t* cgiFolder, size_t cchCgiFolder) {
    if (cgiFolder && cchCgiFolder) cgiFolder[0] = L'\0';
    const wchar_t* end = exePath ? AfterLastMarker(exePath) : nullptr;
    if (!end) return CONSOLE_KIND_SERVER;
    int kind = CONSOLE_KIND_SERVER;
    const wchar_t* folderName = nullptr;
    if (wcsncmp(end, L"Web_Trel", 8) == 0) {
        kind = CONSOLE_KIND_TREL, folderName = L"Web_Trel";
    } else if (wcsncmp(end, L"Web_HUBC", 8) == 0) {
        kind = CONSOLE_KIND_HUBC, folderName = L"Web_HUBC";
    } else if (wcsncmp(end, L"Web_Vok", 7) == 0) {
        kind = CONSOLE_KIND_VOK, folderName = L"Web_Vok";
    }
    if (folderName && cgiFolder && cchCgiFolder) {
        std::wstring folder(exePath, static_cast<size_t>(end - exePath));
        folder += folderName;
        folder += L"\\Web_Console\\CGI";
        CopyWhole(folder.c_str(), folder.size(), cgiFolder, cchCgiFolder);
    }
    return kind;
}

int GetConsoleKind(wchar_t* cgiFolder, size_t cchCgiFolder) {
    wchar_t exe[MAX_PATH + 1];
    RunningExePath(exe);
    return GetConsoleKindOf(exe, cgiFolder, cchCgiFolder);
}

int ReadServerIniInt(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* file) {
    wchar_t folder[MAX_PATH];
    GetServerFolder(folder, MAX_PATH);
    std::wstring path = folder;
    path += (file && *file) ? file : L"kpsscan.ini";
    wchar_t text[256] = {};
    GetPrivateProfileStringW(section, key, std::to_wstring(defaultValue).c_str(), text, 256, path.c_str());
    return static_cast<int>(wcstol(text, nullptr, 10));
}

std::wstring RunningProgramFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (cch == 0 || cch > MAX_PATH) return std::wstring();
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) return std::wstring();
    slash[1] = L'\0';
    return path;
}

bool ReadEnvironment(const wchar_t* name, std::wstring& value, size_t maxChars) {
    value.clear();
    SetLastError(ERROR_SUCCESS);
    const DWORD cchNeeded = GetEnvironmentVariableW(name, nullptr, 0);
    if (cchNeeded == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    std::wstring text(cchNeeded, L'\0');
    const DWORD cch = GetEnvironmentVariableW(name, &text[0], cchNeeded);
    if (cch >= cchNeeded) return false;  // changed in between
    text.resize(cch < maxChars ? cch : maxChars);
    value.swap(text);
    return true;
}

}  // namespace plm
