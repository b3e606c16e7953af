#include "cgi_Verify.h"

#include <cwchar>

#include "cgi_CmdHandler.h"
#include "cgi_CookieParse.h"
#include "cgi_HostPaths.h"
#include "cgi_KeyFiles.h"
#include "console/plm_Console.h"
#include "foundation/trace_Trace.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;

// The expiry period in milliseconds. A negative period expires every login (the
// plain product would wrap to a period of weeks), and one too long for 32 bits is
// the longest a tick difference can show.
DWORD ExpiryPeriodMs(int minutes) {
    if (minutes <= 0) return 0;
    const DWORD maxMinutes = MAXDWORD / 60000u;
    return static_cast<DWORD>(minutes) >= maxMinutes ? MAXDWORD : static_cast<DWORD>(minutes) * 60000u;
}

}  // namespace

int VerifyLoginCookie(SLoginSession& session, const SCookieHost& host) {
    int period = 0;
    CMDHO_GET_INI_INT(L"INI_SERVER_SECTION", L"Cookie_Expire_Period", 30, &period, nullptr);
    const DWORD periodMs = ExpiryPeriodMs(period);
    PurgeLoginFiles(host, periodMs);
    std::wstring header;
    if (!ReadEnvironment(L"HTTP_COOKIE", header, kCookieHeaderChars)) {
        WDX_TRACE(kTraceFailure, L"[VerifyLoginCookie]HTTP_COOKIE not exist");
        WDX_TRACE(kTraceDetail, L"<== VerifyLoginCookie()");
        return CGI_LOGIN_NO_COOKIE;
    }
    ParseCookieValue(header.c_str(), session, host);
    const int checked = CheckSessionKey(host, session.session, session.key, periodMs);
    if (checked != CGI_OK) return checked;
    const DWORD stamp = wcstoul(session.stamp, nullptr, 10);
    const DWORD now = host.tick();
    WDX_TRACE(kTraceProgress, L"[VerifyLoginCookie]nExpirePeriod=%d minute, GetTickCount()=%u, dwStamp=%u", period, now,
              stamp);
    if (now - stamp <= periodMs) return CGI_OK;
    WDX_TRACE(kTraceFailure, L"[VerifyLoginCookie]GetTickCount()=%u, dwStamp=%u", now, stamp);
    return CGI_LOGIN_EXPIRED;
}

}  // namespace plm
