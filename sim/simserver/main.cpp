// Prepares and inspects the simulated server's registry area.
//   simserver set-local-path <folder>   the server's install folder (64-bit view)
//   simserver show-aos                  prints the add-on manager's registry area
//   simserver add-component <id> <version>
//                                       the entry a registration of that add-on
//                                       version left behind (platform 1, language 9)
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "aos/AoSSrvSDK.h"
#include "diag/logcl_Command.h"
#include "foundation/win_Handle.h"

namespace {

const wchar_t kAoSKey[] = L"SOFTWARE\\Norvale\\Quillon\\service\\AoS";

// Prints as UTF-8, so that localized texts reach a Linux terminal intact.
void Print(const wchar_t* format, ...) {
    wchar_t text[8192] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 8191, format, args);
    va_end(args);
    char utf8[3 * 8192] = {};
    int cb = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (cb > 1) fwrite(utf8, 1, static_cast<size_t>(cb - 1), stdout);
}

int SetLocalPath(const wchar_t* folder) {
    OS::UniqueRegKey key;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                               nullptr, key.put(), nullptr);
    if (err != ERROR_SUCCESS) return fwprintf(stderr, L"cannot create key (err=%ld)\n", err), 1;
    err = RegSetValueExW(key.get(), kServerLocalPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                         static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
    if (err != ERROR_SUCCESS) return fwprintf(stderr, L"cannot set value (err=%ld)\n", err), 1;
    Print(L"Local_Path = %ls\n", folder);
    return 0;
}

void PrintValues(HKEY key, const std::wstring& indent) {
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cchName = 256, type = 0;
        BYTE data[4096] = {};
        DWORD cbData = sizeof(data) - sizeof(wchar_t);
        if (RegEnumValueW(key, i, name, &cchName, nullptr, &type, data, &cbData) != ERROR_SUCCESS) break;
        if (type == REG_DWORD)
            Print(L"%ls%ls = %lu (REG_DWORD)\n", indent.c_str(), name, *reinterpret_cast<DWORD*>(data));
        else if (type == REG_SZ || type == REG_EXPAND_SZ)
            Print(L"%ls%ls = \"%ls\"\n", indent.c_str(), name, reinterpret_cast<wchar_t*>(data));
        else
            Print(L"%ls%ls = (type %lu, %lu bytes)\n", indent.c_str(), name, type, cbData);
    }
}

void PrintTree(HKEY key, const std::wstring& indent) {
    PrintValues(key, indent);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cchName = 256;
        if (RegEnumKeyExW(key, i, name, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Print(L"%ls[%ls]\n", indent.c_str(), name);
        OS::UniqueRegKey sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS) PrintTree(sub.get(), indent + L"  ");
    }
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

int AddComponent(const wchar_t* id, const wchar_t* version) {
    std::wstring path = std::wstring(kAoSKey) + L"\\" + id + L"\\1_9_" + version;
    OS::UniqueRegKey key;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                               key.put(), nullptr);
    if (err != ERROR_SUCCESS) return fwprintf(stderr, L"cannot create %ls (err=%ld)\n", path.c_str(), err), 1;
    SetText(key.get(), L"ID", id);
    SetText(key.get(), L"Platform", L"1");
    SetText(key.get(), L"Language", L"9");
    SetText(key.get(), L"Version", version);
    Print(L"component entry HKLM\\%ls\n", path.c_str());
    return 0;
}

int ShowAoS() {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAoSKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        Print(L"(no add-on registry area)\n");
        return 1;
    }
    Print(L"HKLM\\%ls\n", kAoSKey);
    PrintTree(key.get(), L"  ");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    InstallLogClients();  // this program links the layers, not the DLL
    if (argc == 3 && wcscmp(argv[1], L"set-local-path") == 0) return SetLocalPath(argv[2]);
    if (argc == 2 && wcscmp(argv[1], L"show-aos") == 0) return ShowAoS();
    if (argc == 4 && wcscmp(argv[1], L"add-component") == 0) return AddComponent(argv[2], argv[3]);
    fwprintf(stderr, L"usage: simserver set-local-path <folder> | show-aos | add-component <id> <version>\n");
    return 2;
}
