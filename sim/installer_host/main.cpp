// A simulated patch-installer host: loads the agent DLL and drives its callbacks
// for one package item, printing each call and its result.
//   installer_host <dll> <package folder> <from a.b.build> <to a.b.build> [zip name]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/win_Handle.h"
#include "installer/WDXPatchAgent.h"

namespace {

bool ParseVersion(const wchar_t* text, ItemVersion& out) {
    unsigned major = 0, minor = 0, build = 0;
    if (swscanf(text, L"%u.%u.%u", &major, &minor, &build) != 3 || major > 0xFFFF || minor > 0xFFFF) return false;
    out.version = (major << 16) | minor;
    out.build = build;
    return true;
}

std::string ToAnsi(const std::wstring& text) {
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

std::vector<std::wstring> PackageFiles(const std::wstring& folder) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    OS::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + L"\\" + data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    return files;
}

std::wstring VersionText(const ItemVersion& v) {
    return std::to_wstring(v.version >> 16) + L"." + std::to_wstring(v.version & 0xFFFF) + L"." +
           std::to_wstring(v.build);
}

template <typename F>
F Export(HMODULE dll, const char* name) {
    F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (f == nullptr) {
        fwprintf(stderr, L"export %hs missing\n", name);
        ExitProcess(3);
    }
    return f;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ItemVersion from = {}, to = {};
    if (argc < 5 || !ParseVersion(argv[3], from) || !ParseVersion(argv[4], to)) {
        fwprintf(stderr, L"usage: installer_host <dll> <package folder> <from a.b.build> <to a.b.build> [zip]\n");
        return 2;
    }
    const std::wstring zipName = argc > 5 ? argv[5] : L"WDX_package.zip";
    OS::UniqueModule dll(LoadLibraryW(argv[1]));
    if (!dll) {
        fwprintf(stderr, L"cannot load %ls (err=%lu)\n", argv[1], GetLastError());
        return 3;
    }
    auto startAction = Export<PFN_StartAction>(dll.get(), "StartAction");
    auto startItem = Export<PFN_StartItem>(dll.get(), "StartItem");
    auto checkFileEx = Export<PFN_CheckFileEx>(dll.get(), "CheckFileEx");
    auto endItem = Export<PFN_EndItem>(dll.get(), "EndItem");
    auto isRollbackEx = Export<PFN_IsRollbackEx>(dll.get(), "IsRollbackEx");
    auto endAction = Export<PFN_EndAction>(dll.get(), "EndAction");

    const std::wstring range = VersionText(from) + L" -> " + VersionText(to);
    int result = startAction();
    wprintf(L"StartAction() = %d\n", result);
    if (result != 0) {
        wprintf(L"EndAction() = %d\n", endAction());
        return 1;
    }
    wprintf(L"StartItem(\"%ls\", 1, 0, 0x0, %ls) = %d\n", zipName.c_str(), range.c_str(),
            startItem(ToAnsi(zipName).c_str(), 1, 0, 0, &from, &to));
    for (const std::wstring& file : PackageFiles(argv[2]))
        wprintf(L"CheckFileEx(\"%ls\") = %d\n", file.c_str(), checkFileEx(ToAnsi(file).c_str()));
    int itemResult = endItem(1, &from, &to);
    wprintf(L"EndItem(1, %ls) = %d\n", range.c_str(), itemResult);
    wprintf(L"IsRollbackEx() = %d\n", isRollbackEx());
    wprintf(L"EndAction() = %d\n", endAction());
    fflush(stdout);
    return itemResult == 1 ? 0 : 1;
}
