#include "agent/WDXPatchAgent_Internal.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <comdef.h>

#include <cstdlib>
#include <exception>
#include <cwchar>
#include <memory>

#include "aos/AoSSrvSDK.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"

#include "WdxVersion.h"  // made from VERSION by CMake

using AgentChannel::TraceWrite;

namespace {

const wchar_t kSourceFile[] = L".\\WDXPatchAgent";

const size_t kPathChars = MAX_PATH;  // 259 characters and the NUL
const size_t kTextChars = 1024;

const wchar_t kAddonFolder[] = L"WDX";
const wchar_t kPlugInFile[] = L"WDXPlugIn.dll";
const wchar_t kUninstallFile[] = L"Uninstall.exe";
const wchar_t kPageName[] = L"Main Page";
const wchar_t kPageUrlFormat[] = L"../cgi/cgiShowAoS.exe?ID=%s&URLROUTE=UI_DISPLAY_PAGE_MANAGEMENT";
const wchar_t kServiceExe[] = L"Web\\Service\\KpsService.exe";
const wchar_t kSettingsFile[] = L"kpsscan.ini";
const DWORD kRecordSize = 52;

// The longest file name placed next to the add-on folder by the agent itself; the
// folder must leave room for it, so the plug-in and uninstaller paths always fit.
const size_t kLongestOwnFileName = 13;  // "WDXPlugIn.dll", "Uninstall.exe"

struct LanguageEntry {
    wchar_t code[10];
    UINT stringId;
};

const LanguageEntry kLanguages[] = {
    {L"de", 104}, {L"en", 102}, {L"es", 105},    {L"fr", 106},    {L"ja", 107}, {L"ko", 108},
    {L"pl", 109}, {L"ru", 110}, {L"zh_cn", 111}, {L"zh_tw", 103}, {L"it", 112},
};

HMODULE g_module = nullptr;
wchar_t PkgDestPath[kPathChars] = {};
std::vector<FileCopyEntry> FileCopyTable;

// Appends "\component" when the result fits in a path buffer; false otherwise,
// leaving path unchanged.
bool AppendPathComponent(wchar_t* path, const wchar_t* component) {
    if (wcslen(path) + 1 + wcslen(component) >= kPathChars) return false;
    return PathAppendW(path, component) != FALSE;
}

// Server install folder with a relative file appended, or false when it does not fit.
bool ServerFilePath(const wchar_t* relative, wchar_t* path) {
    AoSSrv_GetPathInfo(ServerFolder, path);
    return AppendPathComponent(path, relative);
}

bool ToIsNewer(const ItemVersion* from, const ItemVersion* to) {
    if (to->version != from->version) return to->version > from->version;
    return to->build > from->build;
}

// The line is the caller's, so that StartItem's and EndItem's lines tell apart.
void TraceVersions(int line, const wchar_t* format, const ItemVersion* from, const ItemVersion* to) {
    TraceWrite(kTraceProgress, kSourceFile, line, format, from->version, from->build, to->version, to->build);
}

// The installer host gets a result, never an exception: anything thrown below
// (out of memory, a failed variant conversion) becomes the callback's failure
// value. The line is the callback's.
template <typename Body>
int Guarded(const wchar_t* callback, int line, int failure, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        TraceWrite(kTraceFailure, kSourceFile, line, L"[%s] exception: %hs", callback, e.what());
    } catch (const _com_error& e) {
        TraceWrite(kTraceFailure, kSourceFile, line, L"[%s] _com_error: 0x%08X", callback,
                   static_cast<unsigned>(e.Error()));
    } catch (...) {
        TraceWrite(kTraceFailure, kSourceFile, line, L"[%s] unexpected exception", callback);
    }
    return failure;
}

}  // namespace

void Agent_SetModule(HMODULE module) { g_module = module; }
HMODULE Agent_GetModule() { return g_module; }
const wchar_t* Agent_PkgDestPath() { return PkgDestPath; }
const std::vector<FileCopyEntry>& Agent_FileCopyTable() { return FileCopyTable; }

bool ChkKPSEVer() {
    wchar_t path[kPathChars] = {};
    if (!ServerFilePath(kServiceExe, path)) {
        WDX_TRACE(kTraceFailure, L"[ChkKPSEVer] KpsServicePath does not fit: %s", path);
        return false;
    }
    WDX_TRACE(kTraceProgress, L"[ChkKPSEVer] KpsServicePath: %s", path);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[ChkKPSEVer] GetFileVersionInfoSize failed. err = %d", err);
        return false;
    }
    std::unique_ptr<BYTE[]> block(new BYTE[size]());
    if (!GetFileVersionInfoW(path, 0, size, block.get())) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[ChkKPSEVer] GetFileVersionInfo failed. err = %d", err);
        return false;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        DWORD err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[ChkKPSEVer] VerQueryValue failed. err = %d", err);
        return false;
    }
    const unsigned major = HIWORD(info->dwFileVersionMS);
    unsigned minor = LOWORD(info->dwFileVersionMS);
    if (major < 10) return false;
    if (minor < 10)
        minor *= 100;
    else if (minor < 100)
        minor *= 10;
    if (major > 10) return true;
    return minor >= 550;
}

int LoadResString(wchar_t* buffer) {
    LoadStringW(g_module, 102, buffer, static_cast<int>(kTextChars));
    wchar_t iniPath[kPathChars] = {};
    if (!ServerFilePath(kSettingsFile, iniPath)) {
        WDX_TRACE(kTraceFailure, L"[LoadResString] settings path does not fit: %s", iniPath);
        return 0;
    }
    WDX_TRACE(kTraceProgress, L"[LoadResString] %s", iniPath);
    wchar_t code[kTextChars] = {};
    GetPrivateProfileStringW(L"INI_SERVER_SECTION", L"Language_Code", L"en", code, static_cast<DWORD>(kTextChars),
                             iniPath);
    WDX_TRACE(kTraceProgress, L"[LoadResString] Language_Code=%s", code);
    for (const LanguageEntry& entry : kLanguages) {
        if (wcscmp(code, entry.code) == 0) {
            LoadStringW(g_module, entry.stringId, buffer, static_cast<int>(kTextChars));
            break;
        }
    }
    return 0;
}

int Unregister() {
    wchar_t plugIn[kPathChars] = {};
    wcscpy_s(plugIn, kPathChars, PkgDestPath);
    AppendPathComponent(plugIn, kPlugInFile);

    AoSData record = {};
    record.dwSize = kRecordSize;
    record.wpszPLSId = kWdxAddonId;
    record.wpszPLSVersion = L"";
    record.wpszInstallPath = PkgDestPath;
    record.wpszAuxText = L"";
    record.wpszPlugInPath = plugIn;
    record.wpszUninstallPath = L"";
    int err = AoSSrv_Unregister(&record);
    if (err != 0) {
        WDX_TRACE(kTraceFailure, L"[Unregister] AoSSrv_Unregister failed. err = %d", err);
        return err;
    }
    WDX_TRACE(kTraceProgress, L"[Unregister] AoSSrv_Unregister success");
    return 0;
}

namespace {

int RefuseServer() {
    WDX_TRACE(kTraceFailure, L"[StartAction] Not support this KPSE version.");
    wchar_t versionText[kTextChars] = {};
    swprintf_s(versionText, kTextChars, L"%d.%d.%d", WDX_VERSION_MAJOR, WDX_VERSION_MINOR, WDX_VERSION_BUILD);
    wchar_t message[kTextChars] = {};
    LoadResString(message);
    AoSSrv_SetLastError(versionText, message);
    return 1;
}

// The add-on folder must hold its own plug-in and uninstaller paths, so a root
// that leaves no room for them is refused instead of being cut.
bool BuildAddonFolder(wchar_t* folder) {
    AoSSrv_GetPathInfo(AddonRoot, folder);
    const bool maybeCut = wcslen(folder) >= kPathChars - 1;
    if (maybeCut || !AppendPathComponent(folder, kAddonFolder)) return false;
    return wcslen(folder) + 1 + kLongestOwnFileName < kPathChars;
}

int StartActionImpl() {
    WDX_TRACE(kTraceProgress, L"[StartAction] >>>");
    if (!ChkKPSEVer()) return RefuseServer();

    wchar_t folder[kPathChars] = {};
    if (!BuildAddonFolder(folder)) {
        WDX_TRACE(kTraceFailure, L"[StartAction] PkgDestPath does not fit: %s", folder);
        return 1;
    }
    wcscpy_s(PkgDestPath, kPathChars, folder);
    WDX_TRACE(kTraceProgress, L"[StartAction] PkgDestPath: %s", PkgDestPath);

    int err = SHCreateDirectoryExW(nullptr, PkgDestPath, nullptr);
    if (err == ERROR_SUCCESS || err == ERROR_ALREADY_EXISTS) return 0;
    WDX_TRACE(kTraceFailure, L"[StartAction] SHCreateDirectoryEx failed. err = %d", err);
    return 1;
}

void TraceItem(const char* zipName, int itemClass, int itemType, unsigned int option, const ItemVersion* from,
               const ItemVersion* to) {
    std::wstring name;
    MBWC::MBToWC(zipName, name, CP_ACP, 0, nullptr);
    WDX_TRACE(kTraceProgress, L"[StartItem] The Zip file name is %s", name.c_str());
    WDX_TRACE(kTraceProgress, L"[StartItem] Class of this item is %d", itemClass);
    WDX_TRACE(kTraceProgress, L"[StartItem] Type of this item is %d", itemType);
    WDX_TRACE(kTraceProgress, L"[StartItem] Option of this item is 0x%x", option);
    if (from != nullptr && to != nullptr)
        TraceVersions(__LINE__, L"[StartItem] The version from %d build=%d to %d build=%d", from, to);
}

int CheckFileExImpl(const char* path) {
    std::wstring source;
    MBWC::MBToWC(path, source, CP_ACP, 0, nullptr);
    WDX_TRACE(kTraceProgress, L"[CheckFileEx] The file copy to %s", source.c_str());

    wchar_t name[256] = {};
    wchar_t ext[256] = {};
    errno_t e = _wsplitpath_s(source.c_str(), nullptr, 0, nullptr, 0, name, 256, ext, 256);
    if (e != 0) {
        WDX_TRACE(kTraceFailure, L"[CheckFileEx] _wsplitpath_s failed. err = %d", e);
        return -1;
    }
    if (name[0] == L'\0') {
        WDX_TRACE(kTraceFailure, L"[CheckFileEx] No file name in \"%s\"", source.c_str());
        return -1;
    }
    wchar_t target[kPathChars] = {};
    wcscpy_s(target, kPathChars, PkgDestPath);
    if (!AppendPathComponent(target, name) || wcslen(target) + wcslen(ext) >= kPathChars) {
        WDX_TRACE(kTraceFailure, L"[CheckFileEx] Target path does not fit: %s", source.c_str());
        return -1;
    }
    wcscat_s(target, kPathChars, ext);
    FileCopyTable.push_back(FileCopyEntry{source, target});
    return 1;
}

// Copies one record, moving a target that cannot be overwritten aside first.
// 1 when the file is in place, 0 when the item must stop.
int CopyOneFile(const FileCopyEntry& entry) {
    const wchar_t* source = entry.source.c_str();
    const wchar_t* target = entry.target.c_str();
    if (CopyFileW(source, target, FALSE)) return 1;
    DWORD err = GetLastError();
    WDX_TRACE(kTraceFailure, L"[EndItem] CopyFile \"%s\" -> \"%s\" failed. err = %d", source, target, err);

    wchar_t backup[kPathChars] = {};
    if (entry.target.size() + 4 > kPathChars - 2) {
        WDX_TRACE(kTraceFailure, L"[EndItem] MoveFile failed. err = %d", ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    swprintf_s(backup, kPathChars - 1, L"%s.bak", target);
    WDX_TRACE(kTraceFailure, L"[EndItem] MoveFile \"%s\" -> \"%s\"", target, backup);
    if (!MoveFileExW(target, backup, MOVEFILE_REPLACE_EXISTING)) {
        err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[EndItem] MoveFile failed. err = %d", err);
        return 0;
    }
    if (!CopyFileW(source, target, FALSE)) {
        err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[EndItem] CopyFile failed 2nd. err = %d", err);
        return 0;
    }
    if (!DeleteFileW(backup)) {
        err = GetLastError();
        WDX_TRACE(kTraceFailure, L"[EndItem] DeleteFile [%s] failed. err = %d", backup, err);
    }
    return 1;
}

int RegisterAddon(const ItemVersion* to) {
    wchar_t versionText[kTextChars] = {};
    swprintf_s(versionText, kTextChars, L"%d.%d.%d", static_cast<unsigned short>(HIWORD(to->version)),
               static_cast<unsigned short>(LOWORD(to->version)), to->build);
    wchar_t plugIn[kPathChars] = {};
    wcscpy_s(plugIn, kPathChars, PkgDestPath);
    AppendPathComponent(plugIn, kPlugInFile);
    wchar_t uninstaller[kPathChars] = {};
    wcscpy_s(uninstaller, kPathChars, PkgDestPath);
    AppendPathComponent(uninstaller, kUninstallFile);
    wchar_t url[kTextChars] = {};
    swprintf_s(url, kTextChars, kPageUrlFormat, kWdxAddonId);

    AoSUIPage page = {kPageName, url};
    AoSData record = {};
    record.dwSize = kRecordSize;
    record.wpszPLSId = kWdxAddonId;
    record.wpszPLSVersion = versionText;
    record.wpszInstallPath = PkgDestPath;
    record.wpszAuxText = L"";
    record.wpszPlugInPath = plugIn;
    record.wpszUninstallPath = uninstaller;
    record.iUIPageCount = 1;
    record.pUIPages = &page;
    int err = AoSSrv_Register(&record);
    if (err != 0) {
        WDX_TRACE(kTraceFailure, L"[EndItem] AoSSrv_Register failed. err = %d", err);
        return 0;
    }
    WDX_TRACE(kTraceProgress, L"[EndItem] AoSSrv_Register success");
    return 1;
}

int InstallItem(const ItemVersion* to) {
    WDX_TRACE(kTraceProgress, L"[EndItem] Install...");
    Unregister();
    for (const FileCopyEntry& entry : FileCopyTable) {
        if (!CopyOneFile(entry)) return 0;
    }
    return RegisterAddon(to);
}

int RollbackItem() {
    WDX_TRACE(kTraceProgress, L"[EndItem] Rollback...");
    wchar_t folderList[kTextChars] = {};
    wcsncpy_s(folderList, kTextChars - 1, PkgDestPath, _TRUNCATE);  // leaves the second NUL

    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = folderList;
    op.pTo = nullptr;
    op.fFlags = FOF_NOCONFIRMATION;
    int err = SHFileOperationW(&op);
    if (err != 0) WDX_TRACE(kTraceFailure, L"[EndItem] SHFileOperation failed. err = %d", err);
    return 1;
}

int EndItemImpl(int update, const ItemVersion* from, const ItemVersion* to) {
    WDX_TRACE(kTraceProgress, L"[EndItem] This Item update is %d", update);
    if (from == nullptr || to == nullptr) {
        WDX_TRACE(kTraceFailure, L"[EndItem] No item version given.");
        return 0;
    }
    TraceVersions(__LINE__, L"[EndItem] The version from %d build=%d to %d build=%d", from, to);
    if (ToIsNewer(from, to)) return InstallItem(to);
    return RollbackItem();
}

}  // namespace

extern "C" int __cdecl StartAction(void) {
    return Guarded(L"StartAction", __LINE__, 1, [] { return StartActionImpl(); });
}

extern "C" int __cdecl StartItem(const char* zipName, int itemClass, int itemType, unsigned int option,
                                 const ItemVersion* from, const ItemVersion* to) {
    Guarded(L"StartItem", __LINE__, 1, [=] {
        TraceItem(zipName, itemClass, itemType, option, from, to);
        return 1;
    });
    return 1;
}

extern "C" int __cdecl CheckFileEx(const char* path) {
    return Guarded(L"CheckFileEx", __LINE__, -1, [path] { return CheckFileExImpl(path); });
}

extern "C" int __cdecl EndItem(int update, const ItemVersion* from, const ItemVersion* to) {
    return Guarded(L"EndItem", __LINE__, 0, [=] { return EndItemImpl(update, from, to); });
}

extern "C" int __cdecl IsRollbackEx(void) {
    WDX_TRACE(kTraceProgress, L"[IsRollbackEx] >>>");
    return 1;
}

extern "C" int __cdecl EndAction(void) {
    WDX_TRACE(kTraceProgress, L"[EndAction] >>>");
    return 0;
}
