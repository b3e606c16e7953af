#include "cgi_SSOImp.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "cgi_HostPaths.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_SSOImp";
const int kSessionExpiryArg = 30000;
const size_t kSessionInfoBytes = 80;

typedef int(__cdecl* SsoExpiryCheck)(const char*, const char*, const char*, int);
typedef int(__cdecl* SsoWithBuffer)(const char*, const char*, const char*, void*);

struct SsoHelper {
    OS::UniqueModule module;
    SsoExpiryCheck isSessionExpired = nullptr;
    SsoWithBuffer parseSessionData = nullptr;
    SsoWithBuffer createSessionResponse = nullptr;
};

bool LoadHelper(const std::wstring& path, SsoHelper& helper) {
    helper.module.reset(LoadLibraryW(path.c_str()));
    if (!helper.module) {
        const DWORD error = GetLastError();
        WDX_TRACE(kTraceService, L"[ValidateSSO]Load sso library failed(%s)(%d)", path.c_str(),
                  static_cast<int>(error));
        return false;
    }
    HMODULE module = helper.module.get();
    helper.isSessionExpired = reinterpret_cast<SsoExpiryCheck>(
        reinterpret_cast<void*>(GetProcAddress(module, "En_SSO_PKI_IsSessionExpired")));
    helper.parseSessionData =
        reinterpret_cast<SsoWithBuffer>(reinterpret_cast<void*>(GetProcAddress(module, "En_SSO_PKI_ParseSessionData")));
    helper.createSessionResponse = reinterpret_cast<SsoWithBuffer>(
        reinterpret_cast<void*>(GetProcAddress(module, "En_SSO_PKI_CreateSessionResponse")));
    if (helper.isSessionExpired && helper.parseSessionData && helper.createSessionResponse) return true;
    const DWORD error = GetLastError();
    helper.module.reset();
    WDX_TRACE(kTraceService, L"[ValidateSSO]Load function failed(%d)", static_cast<int>(error));
    return false;
}

// The response becomes a header line: it ends at its first CR or LF and never
// runs past its buffer, whatever the helper wrote.
void CopyResponseLine(char (&helperText)[kSsoResponseBytes], char* response) {
    helperText[kSsoResponseBytes - 1] = '\0';
    const size_t cb = strcspn(helperText, "\r\n");
    memcpy(response, helperText, cb);
    response[cb] = '\0';
}

}  // namespace

int ValidateSSOFrom(const wchar_t* folder, const wchar_t* sessionData, const char* ssoSetting2, const char* ssoSetting1,
                    char* response) {
    SsoHelper helper;
    if (!LoadHelper(std::wstring(folder ? folder : L"") + L"SSO_PKIHelper.dll", helper)) return 1;
    const std::string session = MBWC::ToAnsi(sessionData ? sessionData : L"");
    const char* setting1 = ssoSetting1 ? ssoSetting1 : "";
    const char* setting2 = ssoSetting2 ? ssoSetting2 : "";
    const int result = helper.isSessionExpired(setting1, session.c_str(), setting2, kSessionExpiryArg);
    unsigned char info[kSessionInfoBytes] = {};
    helper.parseSessionData(setting1, session.c_str(), setting2, info);
    char text[kSsoResponseBytes] = {};
    helper.createSessionResponse(setting1, session.c_str(), setting2, text);
    helper.module.reset();
    if (response) CopyResponseLine(text, response);
    return result;
}

int ValidateSSO(const wchar_t* sessionData, const char* ssoSetting2, const char* ssoSetting1, char* response) {
    const std::wstring folder = RunningProgramFolder();
    if (folder.empty()) {  // never the helper by bare name, from the DLL search path
        WDX_TRACE(kTraceService, L"[ValidateSSO]Load sso library failed(%s)(%d)", L"", ERROR_FILENAME_EXCED_RANGE);
        return 1;
    }
    return ValidateSSOFrom(folder.c_str(), sessionData, ssoSetting2, ssoSetting1, response);
}

}  // namespace plm
