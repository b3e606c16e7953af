#include "cgi_SetCookie.h"

#include <cwchar>

#include "cgi_CmdHandler.h"
#include "cgi_CookieParse.h"
#include "cgi_HostPaths.h"
#include "cgi_KeyFiles.h"
#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;
const size_t kAnsiCookieBytes = 259;

bool HasControlCharacter(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

const wchar_t* const kFeatureFlagCookies[] = {
    L"flag_product",   L"flag_console",   L"flag_ac_bit2",   L"flag_ac_bit3",  L"flag_ac_bit4",    L"flag_ac_bit5",
    L"flag_ac_bit6",   L"flag_ac_basic",  L"flag_ac_extra",  L"flag_clients",  L"flag_registered", L"flag_firewall",
    L"flag_reserved1", L"flag_reserved2", L"flag_reserved3", L"flag_reserved4"};

const char* CookiePath(int consoleKind) {
    switch (consoleKind) {
    case CONSOLE_KIND_VOK:
        return "/Vok";
    case CONSOLE_KIND_TREL:
        return "/Trel";
    case CONSOLE_KIND_HUBC:
        return "/hubconsole";
    default:
        return "/quillon";
    }
}

void Replace(CookieSet& cookies, const std::wstring& name, const std::wstring& value) {
    cookies.erase(name);
    cookies.emplace(name, value);
}

// A new login: a random session id with its key file, and a random key. False
// when it cannot be made safely; then nothing is added.
bool CreateLogin(CookieSet& cookies, const SCookieHost& host) {
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] Will create the new cookie.");
    int values[3] = {};
    for (int& value : values) {
        if (!host.random15(value)) {
            WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: no random key");
            return false;
        }
    }
    wchar_t key[48];
    _snwprintf_s(key, 48, _TRUNCATE, L"%d%d%d", values[2], values[1], values[0]);
    key[47] = L'\0';
    int sessionId = 0;
    if (!CreateKeyFile(host, key, sessionId)) return false;
    cookies.emplace(L"key", key);
    cookies.emplace(L"session", std::to_wstring(sessionId));
    return true;
}

void CarryLogin(CookieSet& cookies) {
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] Skip the creation of new cookie.");
    std::wstring header;
    if (ReadEnvironment(L"HTTP_COOKIE", header, kCookieHeaderChars)) {
        WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] Get environmental variable HTTP_COOKIE");
        ParseCookieSet(header.c_str(), cookies);
    } else {
        WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] Could not get env HTTP_COOKIE");
    }
}

void RenewStamps(CookieSet& cookies, const SCookieHost& host) {
    const std::wstring stamp = std::to_wstring(host.tick());
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] The new stamp value (now) is: %s", stamp.c_str());
    cookies.erase(L"stamp");
    if (cookies.emplace(L"stamp", stamp).second)
        WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] The new stamp value (now:) was inserted successfully");
    else
        WDX_TRACE(kTraceCookieFailure, L"[ShowSetCookieInHeader] The new stamp could not be inserted to cookie map");
    Replace(cookies, L"timestamp", std::to_wstring(host.seconds()));
}

// A login whose account was removed gets stamps that expire it.
void CheckAccount(CookieSet& cookies) {
    const auto index = cookies.find(L"LoginNameIndex");
    if (index == cookies.end()) return;
    std::wstring account;
    if (!index->second.empty()) CMDHO_GET_ACCOUNT_BY_INDEX(_wtoi(index->second.c_str()), account);
    if (!account.empty()) return;
    const std::wstring indexText = EscapeForTrace(index->second.c_str());
    Replace(cookies, L"timestamp", L"0");
    Replace(cookies, L"stamp", L"0");
    WDX_TRACE(kTraceFlow,
              L"[ShowSetCookieInHeader][cookie]account auth fail: someone kill the account account index=[%s].",
              indexText.c_str());
}

// The server facts behind the feature flags; no cookie is written from them.
void AskServerFacts() {
    SCookieQueries facts;
    CMDHO_AskCookieQueries(facts);
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader][cookie]AC=%x.", static_cast<unsigned>(facts.acService));
}

bool IsNeverEchoed(const std::wstring& name) {
    return name == L"session_id" || name == L"HUBC_VirtualPath" || name == L"HUBC_Session_Data";
}

void WriteCookieLines(const CookieSet& cookies, bool sso, int consoleKind, std::string& header) {
    const std::string path = sso ? std::string("/HubConsole/SSO_PKI") : std::string(CookiePath(consoleKind));
    for (const auto& cookie : cookies) {
        // A control character would end the header line early and start a line of its own.
        if (IsNeverEchoed(cookie.first) || HasControlCharacter(cookie.first) || HasControlCharacter(cookie.second))
            continue;
        const std::string name = MBWC::ToAnsi(cookie.first, kAnsiCookieBytes);
        const std::string value = MBWC::ToAnsi(cookie.second, kAnsiCookieBytes);
        // Text the code page has no exact form for is not echoed in another's.
        if ((name.empty() && !cookie.first.empty()) || (value.empty() && !cookie.second.empty())) continue;
        header += "Set-Cookie: ";
        header += name;
        header += "=";
        header += value;
        header += ";path=";
        header += path;
        header += "\r\n";
    }
}

}  // namespace

bool ShowSetCookieInHeader(bool newLogin, std::string& header, const CookieList* extraCookies, CookieSet& cookies,
                           bool sso, const char* /*virtualPath*/, const SCookieHost& host) {
    WDX_TRACE(kTraceFlow, L"==> ShowSetCookieInHeader()");
    if (newLogin) {
        if (!CreateLogin(cookies, host)) {
            WDX_TRACE(kTraceFlow, L"<== ShowSetCookieInHeader()");
            return false;
        }
    } else {
        CarryLogin(cookies);
    }
    if (extraCookies) {
        for (const auto& extra : *extraCookies) {
            Replace(cookies, extra.first, extra.second);
            WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] get extra cookie name =%s value=%s",
                      EscapeForTrace(extra.first.c_str()).c_str(), EscapeForTrace(extra.second.c_str()).c_str());
        }
    }
    RenewStamps(cookies, host);
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] Non-defined _NEUTRAL");
    CheckAccount(cookies);
    AskServerFacts();
    for (const wchar_t* flag : kFeatureFlagCookies) cookies.erase(flag);
    WriteCookieLines(cookies, sso, host.consoleKind, header);
    WDX_TRACE(kTraceFlow, L"<== ShowSetCookieInHeader()");
    return true;
}

}  // namespace plm
