// Console logins: what the login units (key files, cookie parsing, Set-Cookie
// output, verification) share: their trace source, the session read from a
// request, the host they run on, and the cookie containers.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cgi_SSOImp.h"

namespace plm {

// The log server files the lines of every login unit under this one name.
extern const wchar_t kConsoleCommonSource[];

const size_t kCookieFieldChars = 2048;
const size_t kVirtualPathBytes = 260;
const size_t kCookieHeaderChars = 2047;

// What ParseCookieValue reads from a request's cookie header.
struct SLoginSession {
    wchar_t key[kCookieFieldChars];
    wchar_t stamp[kCookieFieldChars];
    wchar_t session[kCookieFieldChars];
    int nSSOResult;  // 1 until a single-sign-on check ran
    char ssoResponse[kSsoResponseBytes];
    char virtualPath[kVirtualPathBytes];
};

// Where and when the login code runs: the server folder (with its final
// backslash, empty outside a server install), the console kind, the tick count
// and the time of day in seconds since 1970 (low 32 bits), and the source of
// session ids and keys (values 0..32767; false when none can be drawn), and
// the time a request may spend on a slice of the purge's pass.
struct SCookieHost {
    std::wstring serverFolder;
    int consoleKind = 6;
    DWORD purgeSliceMs = 20;
    std::function<DWORD()> tick;
    std::function<int()> seconds;
    std::function<bool(int&)> random15;

    static SCookieHost FromProcess();
};

// The host the console context uses: the process's own unless a test put
// another in place with ScopedCookieHost.
const SCookieHost& ActiveCookieHost();
class ScopedCookieHost {
public:
    explicit ScopedCookieHost(const SCookieHost& host);
    ~ScopedCookieHost();
    ScopedCookieHost(const ScopedCookieHost&) = delete;
    ScopedCookieHost& operator=(const ScopedCookieHost&) = delete;

private:
    const SCookieHost* m_previous;
};

typedef std::map<std::wstring, std::wstring> CookieSet;
typedef std::vector<std::pair<std::wstring, std::wstring>> CookieList;

}  // namespace plm
