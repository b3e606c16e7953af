// Console logins: the login cookies, their key files in the server's TEMP
// folder, and the Set-Cookie lines of a response.
#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cgi_SSOImp.h"
#include "console/plm_Console.h"

namespace plm {

const size_t kCookieFieldChars = 2048;
const size_t kVirtualPathBytes = 260;
const size_t kKeyRecordBytes = 36;
const size_t kKeyTextBytes = 32;

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
// session ids and keys (values 0..32767; false when none can be drawn).
struct SCookieHost {
    std::wstring serverFolder;
    int consoleKind = 6;
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

// 3900 valid, 3904 key differs, 3905 expired, 3906 no cookie header, 3907 no
// usable key file. Also purges idle key files and expired companion files.
int VerifyLoginCookie(SLoginSession& session, const SCookieHost& host);
// Fills session from the header (null: empty) and runs the single-sign-on
// check when the management console's hand-over cookies are present.
void ParseCookieValue(const wchar_t* cookieHeader, SLoginSession& session, const SCookieHost& host);
// Adds the header's cookies to the set; a name already present keeps its value.
void ParseCookieSet(const wchar_t* cookieText, CookieSet& cookies);
// Appends the response's Set-Cookie lines to header, creating a new login
// (key file included) when newLogin is set. virtualPath is not used. False,
// with nothing appended, when a new login cannot be created safely.
bool ShowSetCookieInHeader(bool newLogin, std::string& header, const CookieList* extraCookies, CookieSet& cookies,
                           bool sso, const char* virtualPath, const SCookieHost& host);

// A session id is 1 to 5 decimal digits; nothing else ever names a key file.
bool IsSessionId(const wchar_t* text);
// The key file of a session id, or empty when there is none (no server folder
// or not a session id).
std::wstring KeyFilePath(const SCookieHost& host, const wchar_t* sessionId);
// The value of an environment variable, at most maxChars characters; false
// when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring& value, size_t maxChars);

}  // namespace plm

// ---- the console context behind plm::CConsoleCommon ---------------------------------

namespace plm {

extern const wchar_t kConsoleCommonSource[];

// Whether the server reported a database backup when the last context was
// built, and when it started. Process-wide, as every page of the process sees it.
bool ConsoleBackupInProgress();
const SYSTEMTIME& ConsoleBackupTime();

class CConsoleCommonImpl {
public:
    CConsoleCommonImpl(int contentKind, const wchar_t* downloadName, int loginMode, bool withParams,
                       const wchar_t* resourcePrefix, const wchar_t* resourceModule, const CookieList* extraCookies,
                       bool forceSso, const SCookieHost& host);
    CConsoleCommonImpl(const CConsoleCommonImpl&) = delete;
    CConsoleCommonImpl& operator=(const CConsoleCommonImpl&) = delete;

    void AddOwner();
    // Deletes the object when the last owner leaves.
    void ReleaseOwner();

    std::unique_ptr<CResourceLoader> m_pResourceLoader;
    std::unique_ptr<CGetParameter> m_pParameters;
    bool m_bSSO = false;
    std::string m_header;
    std::unique_ptr<CookieSet> m_pCookies;
    int m_nErrorCode = CGI_OK;

private:
    ~CConsoleCommonImpl() = default;
    void StartHeader();
    void FinishHeader(int contentKind, const wchar_t* downloadName, const SLoginSession& session);

    volatile LONG m_owners = 1;
};

// A download name as it may stand inside the quotes of Content-Disposition:
// CR, LF, other control characters and double quotes are dropped.
std::wstring SafeDownloadName(const wchar_t* name);

}  // namespace plm
