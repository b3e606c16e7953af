#include "aos/AoSSrvSDK.h"

#include <windows.h>

#include <cwchar>
#include <new>

#include "aos/util_plm_cmdHandler.h"
#include "foundation/com_Support.h"
#include "foundation/os_Exception.h"
#include "foundation/str_Text.h"
#include "foundation/trace_Trace.h"
#include "foundation/var_CVar.h"
#include "ipc/util_ipc_msg_buffer.h"
#include "registry/os_RegKey.h"
#include "registry/util_plm_compList.h"

using FrameworkChannel::TraceWrite;

const wchar_t kServerInformationKey[] = L"SOFTWARE\\Norvale\\Quillon\\service\\Information";
const wchar_t kServerLocalPathValue[] = L"Local_Path";
const wchar_t kWdxAddonId[] = L"KPSE_ADDON_WDX";

namespace {

const wchar_t kSourceFile[] = L".\\AoSSrvSDK";
const size_t kPathChars = 260;
const wchar_t kServerFolderMarker[] = L"KPSSRV\\";
const unsigned kMessageGrowthUnit = 1024;
const int kGenericFailure = 1;

// Every text below goes into a fixed-size record field or path buffer: cut to
// fit, always terminated.
using Str::CopyBounded;

void AppendBounded(wchar_t* out, size_t cchOut, const wchar_t* text) {
    size_t used = wcsnlen(out, cchOut - 1);
    CopyBounded(out + used, cchOut - used, text);
}

}  // namespace

std::wstring GetServerLocalPath() {
    wchar_t value[kPathChars + 1] = {};
    OS::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kServerInformationKey) != ERROR_SUCCESS) return std::wstring();
    DWORD cbValue = kPathChars * sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), kServerLocalPathValue, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &cbValue) != ERROR_SUCCESS)
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

namespace {

void GetPathInfo(AoSPathKind kind, wchar_t* out) {
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
}

}  // namespace

int AoSSrv_GetPathInfo(AoSPathKind kind, wchar_t* out) {
    WDX_TRACE(kTraceFlow, L"==> AoSSrv_GetPathInfo()");
    try {
        GetPathInfo(kind, out);
    } catch (...) {
        // Out of memory for the path: the caller gets an empty folder, as for a missing Local_Path.
        WDX_TRACE(kTraceService, L"out of memory in AoSSrv_GetPathInfo()");
        out[0] = L'\0';
    }
    WDX_TRACE(kTraceFlow, L"<== AoSSrv_GetPathInfo(%d)", 0);
    return 0;
}

void SerializeAoSData(int id, CIPCMsgBuffer& buffer, const AoSData& record) {
    WDX_TRACE(kTraceFlow, L"==> SerializeAoSData()");
    buffer.PutInt32(id)
        .PutText(record.wpszPLSId)
        .PutText(record.wpszPLSVersion)
        .PutText(record.wpszInstallPath)
        .PutText(record.wpszAuxText)
        .PutText(record.wpszPlugInPath)
        .PutText(record.wpszUninstallPath);

    buffer.PutInt32(record.iComponentCount);
    for (int i = 0; i < record.iComponentCount; ++i) {
        const AoSComponentEntry& entry = record.pComponents[i];
        buffer.PutText(entry.wpszText1).PutText(entry.wpszText2).PutInt32(entry.iNumber);
    }

    buffer.PutInt32(record.iTotalUIExtensionDataCount);
    WDX_TRACE(kTraceDetail, L"iTotalUIExtensionDataCount = %d", record.iTotalUIExtensionDataCount);
    for (int i = 0; i < record.iTotalUIExtensionDataCount; ++i) {
        const AoSUIExtensionData& ext = record.pUIExtensions[i];
        buffer.PutText(ext.wpszGroupId);
        WDX_TRACE(kTraceDetail, L"... wpszGroupId = %s", ext.wpszGroupId ? ext.wpszGroupId : L"");
        buffer.PutText(ext.wpszExtensionFileName);
        WDX_TRACE(kTraceDetail, L"... wpszExtensionFileName = %s",
                  ext.wpszExtensionFileName ? ext.wpszExtensionFileName : L"");
        buffer.PutText(ext.wpszDescription);
        WDX_TRACE(kTraceDetail, L"... wpszDescription = %s", ext.wpszDescription ? ext.wpszDescription : L"");
        buffer.PutInt32(ext.bAllowed);
        WDX_TRACE(kTraceDetail, L"... bAllowed = %s", ext.bAllowed ? L"true" : L"false");
        buffer.PutInt32(ext.bUIDeletable);
        WDX_TRACE(kTraceDetail, L"... bUIDeletable = %s", ext.bUIDeletable ? L"true" : L"false");
    }

    buffer.PutInt32(record.iUIPageCount);
    for (int i = 0; i < record.iUIPageCount; ++i)
        buffer.PutText(record.pUIPages[i].wpszPageName).PutText(record.pUIPages[i].wpszPageURL);
    WDX_TRACE(kTraceFlow, L"<== SerializeAoSData()");
}

namespace {

// What differs between a registration and an unregistration.
struct ManagerRequest {
    const wchar_t* functionName;
    int requestId;
    const wchar_t* commandName;
    int expectedReplyId;
    bool traceDeliveryFailures;  // the unregistration stays silent on these
    int replyDetailLevel;
};

const ManagerRequest kRegister = {L"AoSSrv_Register", 1115, L"aosmgr_AOS_PLUGIN_REGISTER", 1116, true, kTraceFlow};
const ManagerRequest kUnregister = {L"AoSSrv_Unregister", 1117, L"aosmgr_AOS_PLUGIN_UNREGISTER", 1118, false,
                                    kTraceService};

// The helpers below are shared, so their lines carry the line the caller passes
// in: that of AoSSrv_Register, AoSSrv_Unregister or AoSSrv_SetLastError.

// Sends the record and reads the manager's status. Exceptions of the request
// and reply buffers and out of memory, here or in the dispatch below, reach the
// caller, which turns them into its result.
int ExchangeWithManager(const ManagerRequest& kind, const AoSData& record, int line) {
    CIPCMsgBuffer request(kMessageGrowthUnit);
    CIPCMsgBuffer ipcOutMsgBuffer(kMessageGrowthUnit);
    SerializeAoSData(kind.requestId, request, record);
    const bool bSuccess = PLMCmdMgr_SendCommand(request, kind.commandName, ipcOutMsgBuffer);
    if (!bSuccess || ipcOutMsgBuffer.BytesUsed() == 0) {
        if (kind.traceDeliveryFailures)
            TraceWrite(kTraceService, kSourceFile, line, L"bSuccess(%d) && ipcOutMsgBuffer.BytesUsed(%d)",
                       bSuccess ? 1 : 0, ipcOutMsgBuffer.BytesUsed());
        return kGenericFailure;
    }
    CIPCMsgBuffer reply(ipcOutMsgBuffer);
    int iMsgReplyID = 0;
    reply.GetInt32(iMsgReplyID);
    TraceWrite(kind.replyDetailLevel, kSourceFile, line, L"iMsgReplyID(%d)", iMsgReplyID);
    if (iMsgReplyID != kind.expectedReplyId) {
        if (kind.traceDeliveryFailures)
            TraceWrite(kTraceService, kSourceFile, line, L"Wrong iMsgReplyID(%d)", iMsgReplyID);
        return kGenericFailure;
    }
    int iStatusCode = 0;
    reply.GetInt32(iStatusCode);
    TraceWrite(kind.replyDetailLevel, kSourceFile, line, L"iStatusCode(%d)", iStatusCode);
    std::wstring strErrMsg;
    reply.GetText(strErrMsg);
    TraceWrite(kind.replyDetailLevel, kSourceFile, line, L"strErrMsg(%s)", strErrMsg.c_str());
    return iStatusCode;
}

// The status an SDK call returns for the exception being handled (call it only
// from a catch block), with its trace line. A code of 0 ("Out of range": a
// truncated reply) must not read as success, so it becomes fallback.
int StatusOfException(const wchar_t* functionName, int fallback, int line) {
    try {
        throw;
    } catch (const _com_error& e) {
        TraceWrite(kTraceService, kSourceFile, line, L"_com_error occured(%s)", OS::ComErrorMessage(e).c_str());
        return e.Error();
    } catch (const OS::CException& e) {
        TraceWrite(kTraceService, kSourceFile, line, L"OS::CException occured(%s)", e.GetDescription().c_str());
        return e.GetErrorCode() == 0 ? fallback : e.GetErrorCode();
    } catch (const std::bad_alloc&) {
        TraceWrite(kTraceService, kSourceFile, line, L"out of memory in %s()", functionName);
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        TraceWrite(kTraceService, kSourceFile, line, L"unexpected exception in %s()", functionName);
        return fallback;
    }
}

// No exception leaves a register or unregister call.
int CallManager(const ManagerRequest& kind, const AoSData* record, int line) {
    TraceWrite(kTraceFlow, kSourceFile, line, L"==> %s()", kind.functionName);
    int result = kGenericFailure;
    if (record != nullptr) {
        try {
            result = ExchangeWithManager(kind, *record, line);
        } catch (...) {
            result = StatusOfException(kind.functionName, kGenericFailure, line);
        }
    }
    TraceWrite(kTraceFlow, kSourceFile, line, L"<== %s(%d)", kind.functionName, result);
    return result;
}

int SetLastErrorEntry(const wchar_t* szId, const wchar_t* szVersion, int errorCode, const wchar_t* szDescription) {
    int result = ERROR_CANTOPEN;
    OS::CRegKey regAoS;
    if (regAoS.Open(HKEY_LOCAL_MACHINE, kAoSRootKeyPath) != ERROR_SUCCESS) {
        WDX_TRACE(kTraceService, L"failed on regAoS.Open(%s)", kAoSRootKeyPath);
    } else {
        CAoSComponentList components(regAoS);
        CAoSComponent* entry = components.GetTargetVersion(szId, szVersion);
        if (entry == nullptr) {
            WDX_TRACE(kTraceService,
                      L"[PLM Server SDK][AoSSrv_SetLastError] Can not find the specified version of the "
                      L"specified PLS: %s, PLS Ver: %s",
                      szId, szVersion);
        } else {
            entry->SetVariantByName(L"LastErrorOccurred", CVar(L"1"), true);
            entry->SetVariantByName(L"LastErrorCode", CVar(errorCode), true);
            entry->SetVariantByName(L"LastErrorMsg", CVar(szDescription), true);
            entry->SaveToRegistry(true);
            result = 0;
        }
    }
    regAoS.Close();
    return result;
}

}  // namespace

int AoSSrv_Register(const AoSData* record) { return CallManager(kRegister, record, __LINE__); }

int AoSSrv_Unregister(const AoSData* record) { return CallManager(kUnregister, record, __LINE__); }

int AoSSrv_SetLastError(const wchar_t* versionText, const wchar_t* description) {
    WDX_TRACE(kTraceFlow, L"==> AoSSrv_SetLastError()");
    const int errorCode = 1;
    wchar_t szDescription[4097] = {};
    wchar_t szId[128] = {};
    wchar_t szVersion[16] = {};
    CopyBounded(szDescription, 4097, description ? description : L"");
    CopyBounded(szId, 128, kWdxAddonId);
    CopyBounded(szVersion, 16, versionText ? versionText : L"");
    WDX_TRACE(kTraceFlow, L"PLS ID: %s, PLS Ver: %s, Error Code: %d, Description: %s", szId, szVersion, errorCode,
              szDescription);

    int result = ERROR_CANTOPEN;
    try {
        result = SetLastErrorEntry(szId, szVersion, errorCode, szDescription);
    } catch (...) {
        result = StatusOfException(L"AoSSrv_SetLastError", ERROR_CANTOPEN, __LINE__);
    }
    WDX_TRACE(kTraceFlow, L"<== AoSSrv_SetLastError(), %d", result);
    return result;
}
