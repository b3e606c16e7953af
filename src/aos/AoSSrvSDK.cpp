#include "aos/AoSSrvSDK.h"

#include <windows.h>

#include <cwchar>

#include "diag/trace_Trace.h"
#include "foundation/win_Handle.h"

using FrameworkChannel::TraceWrite;

const wchar_t kServerInformationKey[] = L"SOFTWARE\\Norvale\\Quillon\\service\\Information";
const wchar_t kServerLocalPathValue[] = L"Local_Path";

namespace {

const wchar_t kSourceFile[] = L".\\AoSSrvSDK";
const size_t kPathChars = 260;
const wchar_t kServerFolderMarker[] = L"KPSSRV\\";

// The server's keys live in the 64-bit view on 64-bit Windows; a 32-bit caller
// falls back to its own view when the key is not there.
OS::UniqueRegKey OpenServerKeyForRead(const wchar_t* subKey) {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) ==
        ERROR_SUCCESS)
        return key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) return key;
    key.reset();
    return key;
}

void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text) {
    size_t n = wcsnlen(text, cchOut - 1);
    wmemcpy(out, text, n);
    out[n] = L'\0';
}

void AppendBounded(wchar_t* out, size_t cchOut, const wchar_t* text) {
    size_t used = wcsnlen(out, cchOut - 1);
    CopyBounded(out + used, cchOut - used, text);
}

}  // namespace

std::wstring GetServerLocalPath() {
    wchar_t value[kPathChars + 1] = {};
    OS::UniqueRegKey key = OpenServerKeyForRead(kServerInformationKey);
    if (!key) return std::wstring();
    DWORD cbValue = kPathChars * sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), kServerLocalPathValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value), &cbValue) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(value);
}

void JoinPath(const wchar_t* base, const wchar_t* tail, wchar_t* out) {
    const size_t cchOut = kPathChars + 1;
    out[0] = L'\0';
    if (base == nullptr) base = L"";
    if (tail == nullptr) tail = L"";
    if (base[0] == L'\0') {
        CopyBounded(out, cchOut, tail);
        return;
    }
    CopyBounded(out, cchOut, base);
    const bool baseEndsWithSlash = base[wcslen(base) - 1] == L'\\';
    const bool tailStartsWithSlash = tail[0] == L'\\';
    if (baseEndsWithSlash) {
        AppendBounded(out, cchOut, tailStartsWithSlash ? tail + 1 : tail);
    } else if (tail[0] != L'\0' && !tailStartsWithSlash) {
        AppendBounded(out, cchOut, L"\\");
        AppendBounded(out, cchOut, tail);
    } else {
        AppendBounded(out, cchOut, tail);
    }
}

int AoSSrv_GetPathInfo(AoSPathKind kind, wchar_t* out) {
    TraceWrite(68, kSourceFile, __LINE__, L"==> AoSSrv_GetPathInfo()");
    std::wstring path = GetServerLocalPath();
    wchar_t work[kPathChars + 1] = {};
    if (kind == AddonRoot) {
        size_t marker = path.find(kServerFolderMarker);
        if (marker != std::wstring::npos) path.erase(marker, wcslen(kServerFolderMarker));
        JoinPath(path.c_str(), L"\\Addon", work);
    } else {
        CopyBounded(work, kPathChars + 1, path.c_str());
    }
    CopyBounded(out, kPathChars, work);
    TraceWrite(68, kSourceFile, __LINE__, L"<== AoSSrv_GetPathInfo(%d)", 0);
    return 0;
}

// TEMPORARY: registration and the last-error record are not wired to the add-on
// manager yet. These bodies report failure (1) so that callers take their failure
// paths; they are replaced when the manager client lands.
int AoSSrv_Register(const AoSData* /*record*/) {
    TraceWrite(68, kSourceFile, __LINE__, L"==> AoSSrv_Register()");
    const int result = 1;
    TraceWrite(68, kSourceFile, __LINE__, L"<== AoSSrv_Register(%d)", result);
    return result;
}

int AoSSrv_Unregister(const AoSData* /*record*/) {
    TraceWrite(68, kSourceFile, __LINE__, L"==> AoSSrv_Unregister()");
    const int result = 1;
    TraceWrite(68, kSourceFile, __LINE__, L"<== AoSSrv_Unregister(%d)", result);
    return result;
}

int AoSSrv_SetLastError(const wchar_t* /*versionText*/, const wchar_t* /*description*/) {
    TraceWrite(68, kSourceFile, __LINE__, L"==> AoSSrv_SetLastError()");
    const int result = 1;
    TraceWrite(68, kSourceFile, __LINE__, L"<== AoSSrv_SetLastError(), %d", result);
    return result;
}
