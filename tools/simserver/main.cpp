// Prepares and inspects the simulated server's registry area.
//   simserver set-local-path <folder>   the server's install folder (64-bit view)
//   simserver show-aos                  prints the add-on manager's registry area
#include <windows.h>

#include <cstdio>
#include <string>

#include "aos/AoSSrvSDK.h"
#include "foundation/win_Handle.h"

namespace {

const wchar_t kAoSKey[] = L"SOFTWARE\\Norvale\\Quillon\\service\\AoS";

int SetLocalPath(const wchar_t* folder) {
    OS::UniqueRegKey key;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, 0, nullptr, 0,
                               KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (err != ERROR_SUCCESS) return fwprintf(stderr, L"cannot create key (err=%ld)\n", err), 1;
    err = RegSetValueExW(key.get(), kServerLocalPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                         static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
    if (err != ERROR_SUCCESS) return fwprintf(stderr, L"cannot set value (err=%ld)\n", err), 1;
    wprintf(L"Local_Path = %ls\n", folder);
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
            wprintf(L"%ls%ls = %lu (REG_DWORD)\n", indent.c_str(), name, *reinterpret_cast<DWORD*>(data));
        else if (type == REG_SZ || type == REG_EXPAND_SZ)
            wprintf(L"%ls%ls = \"%ls\"\n", indent.c_str(), name, reinterpret_cast<wchar_t*>(data));
        else
            wprintf(L"%ls%ls = (type %lu, %lu bytes)\n", indent.c_str(), name, type, cbData);
    }
}

void PrintTree(HKEY key, const std::wstring& indent) {
    PrintValues(key, indent);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cchName = 256;
        if (RegEnumKeyExW(key, i, name, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        wprintf(L"%ls[%ls]\n", indent.c_str(), name);
        OS::UniqueRegKey sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS) PrintTree(sub.get(), indent + L"  ");
    }
}

int ShowAoS() {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAoSKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        wprintf(L"(no add-on registry area)\n");
        return 1;
    }
    wprintf(L"HKLM\\%ls\n", kAoSKey);
    PrintTree(key.get(), L"  ");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"set-local-path") == 0) return SetLocalPath(argv[2]);
    if (argc == 2 && wcscmp(argv[1], L"show-aos") == 0) return ShowAoS();
    fwprintf(stderr, L"usage: simserver set-local-path <folder> | show-aos\n");
    return 2;
}
