#include "cgi_ConsoleCommon.h"

#include <ntsecapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "cgi_CmdHandler.h"
#include "ipc/cmd_Protocol.h"
#include "cgi_Internal.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

using FrameworkChannel::TraceWrite;

namespace plm {

extern const wchar_t kConsoleCommonSource[] = L"..\\libCGIConsoleCommon\\cgi_ConsoleCommon";

namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;
const size_t kCookieHeaderChars = 2047;
const size_t kSegmentChars = 1023;
const size_t kAnsiCookieBytes = 259;
const DWORD kKeyFileIdleMs = 1440u * 60000u;
const int kKeyFileTries = 16;

const SCookieHost* g_activeHost = nullptr;

// ---- small helpers -----------------------------------------------------------

void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text, size_t cchText) {
    const size_t cch = cchText < cchOut ? cchText : cchOut - 1;
    wmemcpy(out, text, cch);
    out[cch] = L'\0';
}

std::wstring UnsignedText(DWORD value) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%u", static_cast<unsigned>(value));
    text[15] = L'\0';
    return text;
}

std::wstring SignedText(int value) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%d", value);
    text[15] = L'\0';
    return text;
}

bool HasControlCharacter(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Equal texts take the same time to compare whatever position differs.
bool KeysEqual(const std::wstring& a, const std::wstring& b) {
    const size_t cch = a.size() > b.size() ? a.size() : b.size();
    unsigned diff = static_cast<unsigned>(a.size() ^ b.size());
    for (size_t i = 0; i < cch; ++i) {
        const unsigned ca = i < a.size() ? static_cast<unsigned>(a[i]) : 0u;
        const unsigned cb = i < b.size() ? static_cast<unsigned>(b[i]) : 0u;
        diff |= ca ^ cb;
    }
    return diff == 0;
}

// One value 0..32767 from the system's cryptographic generator.
bool DrawRandom15(int& value) {
    unsigned short bits = 0;
    if (!RtlGenRandom(&bits, sizeof(bits))) return false;
    value = bits & 0x7FFF;
    return true;
}

// ---- key files -----------------------------------------------------------------

std::wstring TempFolder(const SCookieHost& host) {
    if (host.serverFolder.empty()) return std::wstring();
    std::wstring folder = host.serverFolder;
    if (folder.back() != L'\\') folder += L'\\';
    return folder + L"TEMP";
}

struct SKeyRecord {
    unsigned char bytes[kKeyRecordBytes];
    DWORD Tick() const {
        return bytes[32] | (bytes[33] << 8) | (bytes[34] << 16) | (static_cast<DWORD>(bytes[35]) << 24);
    }
    void SetTick(DWORD tick) {
        for (int i = 0; i < 4; ++i) bytes[32 + i] = static_cast<unsigned char>(tick >> (8 * i));
    }
    // False when the key has no terminator within its 32 bytes.
    bool Key(std::wstring& key) const {
        const void* end = memchr(bytes, 0, kKeyTextBytes);
        if (!end) return false;
        key = AnsiToWide(reinterpret_cast<const char*>(bytes));
        return true;
    }
};

bool ReadExactly(HANDLE file, void* buffer, DWORD cb) {
    DWORD cbRead = 0;
    return ReadFile(file, buffer, cb, &cbRead, nullptr) && cbRead == cb;
}

OS::UniqueFile OpenExisting(const std::wstring& path, DWORD access) {
    return OS::UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Calls visit(path) for every file matching pattern in folder.
template <typename Visit>
void ForEachFile(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
    if (!find) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(find.get(), &found));
}

void PurgeKeyFiles(const std::wstring& folder, DWORD now) {
    ForEachFile(folder, L".key_*", [now](const std::wstring& path) {
        SKeyRecord record;
        bool whole;
        {
            OS::UniqueFile file = OpenExisting(path, GENERIC_READ);
            if (!file) return;
            whole = ReadExactly(file.get(), record.bytes, kKeyRecordBytes);
        }
        // A short file may still be being written by its creator: leave it.
        if (whole && now - record.Tick() > kKeyFileIdleMs) DeleteFileW(path.c_str());
    });
}

void PurgeCompanionFiles(const std::wstring& folder, DWORD now, DWORD periodMs) {
    ForEachFile(folder, L"*.lci", [now, periodMs](const std::wstring& path) {
        char text[15] = {};
        {
            OS::UniqueFile file = OpenExisting(path, GENERIC_READ);
            if (!file) return;
            DWORD cbRead = 0;
            if (!ReadFile(file.get(), text, 14, &cbRead, nullptr)) return;
        }
        const DWORD stored = strtoul(text, nullptr, 10);
        if (stored > now || now - stored <= periodMs) return;
        DeleteFileW(path.c_str());
        const std::wstring stem = path.substr(0, path.size() - 3);
        for (const wchar_t* ext : {L"lco", L"lcx", L"lcd"}) DeleteFileW((stem + ext).c_str());
    });
}

// The session's key with its last-access tick refreshed. 3907 when the file
// cannot be opened, 3904 when it holds no well-formed record.
int RetrieveSessionKey(const SCookieHost& host, const wchar_t* sessionId, std::wstring& key) {
    const std::wstring path = KeyFilePath(host, sessionId);
    OS::UniqueFile file;
    if (!path.empty()) file = OpenExisting(path, GENERIC_READ | GENERIC_WRITE);
    if (!file) {
        WDX_TRACE(kTraceFailure, L"retrieve session key failed.");
        return CGI_LOGIN_NO_KEY_FILE;
    }
    SKeyRecord record;
    if (!ReadExactly(file.get(), record.bytes, kKeyRecordBytes) || !record.Key(key)) return CGI_LOGIN_KEY_MISMATCH;
    record.SetTick(host.tick());
    DWORD cbWritten = 0;
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0)
        WriteFile(file.get(), record.bytes, kKeyRecordBytes, &cbWritten, nullptr);
    return CGI_OK;
}

void EnsureFolder(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);
}

// Creates the key file of a new session id drawn at random. Never replaces
// another login's file: an id whose file exists is drawn again, a bounded
// number of times. False, with sessionId unset, when no id can be drawn or
// every id drawn is taken: the login must not go on. A file that cannot be
// made for another reason (no server folder) leaves a login that never
// verifies (3907), as before.
bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId) {
    const std::wstring folder = TempFolder(host);
    if (!folder.empty()) EnsureFolder(folder);
    for (int attempt = 0; attempt < kKeyFileTries; ++attempt) {
        int drawn = 0;
        if (!host.random15(drawn)) {
            WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: no random session id");
            return false;
        }
        if (folder.empty()) {
            sessionId = drawn;
            return true;
        }
        const std::wstring path = KeyFilePath(host, SignedText(drawn).c_str());
        OS::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                                        nullptr));
        if (!file && GetLastError() == ERROR_FILE_EXISTS) continue;
        sessionId = drawn;
        if (!file) return true;
        SKeyRecord record = {};
        const std::string ansiKey = MBWC::ToAnsi(key, kKeyTextBytes - 1);
        memcpy(record.bytes, ansiKey.data(), ansiKey.size());
        record.SetTick(host.tick());
        DWORD cbWritten = 0;
        WriteFile(file.get(), record.bytes, kKeyRecordBytes, &cbWritten, nullptr);
        return true;
    }
    WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: %d session ids drawn, all taken",
              kKeyFileTries);
    return false;
}

// ---- cookie header parsing -----------------------------------------------------

struct SHandOver {
    wchar_t timestamp[kSegmentChars + 1] = {};
    wchar_t ssoData[kSegmentChars + 1] = {};
    wchar_t virtualPath[kSegmentChars + 1] = {};
};

bool IsNameEnd(wchar_t c) { return c == L'=' || c == L' '; }
bool IsLineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }

// One "name=value" segment (already bounded); a later segment replaces the value.
void TakeSegment(const wchar_t* segment, SLoginSession& session, SHandOver& handOver) {
    const wchar_t* p = segment;
    while (*p && IsNameEnd(*p)) ++p;
    const wchar_t* nameEnd = p;
    while (*nameEnd && !IsNameEnd(*nameEnd)) ++nameEnd;
    const std::wstring name(p, nameEnd);
    const wchar_t* value = *nameEnd ? nameEnd + 1 : nameEnd;
    while (*value && IsLineEnd(*value)) ++value;
    const wchar_t* valueEnd = value;
    while (*valueEnd && !IsLineEnd(*valueEnd)) ++valueEnd;
    const size_t cchValue = static_cast<size_t>(valueEnd - value);

    struct Target {
        const wchar_t* name;
        wchar_t* field;
        size_t cchField;
    } const targets[] = {
        {L"stamp", session.stamp, kCookieFieldChars},
        {L"key", session.key, kCookieFieldChars},
        {L"session", session.session, kCookieFieldChars},
        {L"timestamp", handOver.timestamp, kSegmentChars + 1},
        {L"HUBC_Session_Data", handOver.ssoData, kSegmentChars + 1},
        {L"HUBC_VirtualPath", handOver.virtualPath, kSegmentChars + 1},
    };
    for (const Target& target : targets) {
        if (name == target.name) CopyBounded(target.field, target.cchField, value, cchValue);
    }
}

// A stamp from a browser whose clock runs ahead is brought back to this
// machine's tick count.
void AdjustStamp(SLoginSession& session, const SHandOver& handOver, const SCookieHost& host) {
    const int stamp = _wtoi(session.stamp);
    if (stamp == 0) return;
    const DWORD now = host.tick();
    const DWORD seconds = static_cast<DWORD>(host.seconds());
    const DWORD timestamp = static_cast<DWORD>(_wtoi(handOver.timestamp));
    const int adjusted = static_cast<int>((timestamp - seconds) * 1000u + now);
    if (adjusted <= stamp) return;
    const std::wstring text = static_cast<DWORD>(adjusted) > now ? UnsignedText(now) : SignedText(adjusted);
    CopyBounded(session.stamp, kCookieFieldChars, text.c_str(), text.size());
}

void CheckSingleSignOn(SLoginSession& session, const SHandOver& handOver) {
    if (!handOver.virtualPath[0] || !handOver.ssoData[0]) return;
    std::wstring reply;
    if (!CMDHO_GET_SSO_CFG(reply)) return;
    CCmdProtocol tokens(reply.c_str(), static_cast<int>(reply.size() * sizeof(wchar_t)));
    std::wstring first, second;
    tokens.NextString(first);
    tokens.NextString(second);
    const std::string setting1 = MBWC::ToAnsi(first, MAX_PATH - 1);
    const std::string setting2 = MBWC::ToAnsi(second, MAX_PATH - 1);
    WDX_TRACE(kTraceFlow, L"[ParseCookieValue]SSO case, session data=%s",
              EscapeForTrace(handOver.ssoData).c_str());
    WDX_TRACE(kTraceFlow, L"[ParseCookieValue]SSO case, virtual path=%s",
              EscapeForTrace(handOver.virtualPath).c_str());
    session.nSSOResult = ValidateSSO(handOver.ssoData, setting2.c_str(), setting1.c_str(), session.ssoResponse);
    WDX_TRACE(kTraceConsole, L"[ParseCookieValue]SSO case, check result=%d", session.nSSOResult);
    const std::string path = MBWC::ToAnsi(handOver.virtualPath, kVirtualPathBytes - 1);
    memcpy(session.virtualPath, path.data(), path.size());
    session.virtualPath[path.size()] = '\0';
}

// ---- Set-Cookie output -----------------------------------------------------------

const wchar_t* const kFeatureFlagCookies[] = {
    L"flag_product",  L"flag_console",   L"flag_ac_bit2",  L"flag_ac_bit3",   L"flag_ac_bit4",   L"flag_ac_bit5",
    L"flag_ac_bit6",  L"flag_ac_basic",  L"flag_ac_extra", L"flag_clients",   L"flag_registered", L"flag_firewall",
    L"flag_reserved1", L"flag_reserved2", L"flag_reserved3", L"flag_reserved4"};

const char* CookiePath(int consoleKind) {
    switch (consoleKind) {
        case CONSOLE_KIND_VOK: return "/Vok";
        case CONSOLE_KIND_TREL: return "/Trel";
        case CONSOLE_KIND_HUBC: return "/hubconsole";
        default: return "/quillon";
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
    _snwprintf(key, 48, L"%d%d%d", values[2], values[1], values[0]);
    key[47] = L'\0';
    int sessionId = 0;
    if (!CreateKeyFile(host, key, sessionId)) return false;
    cookies.emplace(L"key", key);
    cookies.emplace(L"session", SignedText(sessionId));
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
    const std::wstring stamp = UnsignedText(host.tick());
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader] The new stamp value (now) is: %s", stamp.c_str());
    cookies.erase(L"stamp");
    if (cookies.emplace(L"stamp", stamp).second)
        WDX_TRACE(kTraceFlow,
                  L"[ShowSetCookieInHeader] The new stamp value (now:) was inserted successfully");
    else
        WDX_TRACE(kTraceCookieFailure,
                  L"[ShowSetCookieInHeader] The new stamp could not be inserted to cookie map");
    Replace(cookies, L"timestamp", SignedText(host.seconds()));
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
    WDX_TRACE(kTraceFlow, L"[ShowSetCookieInHeader][cookie]AC=%x.",
              static_cast<unsigned>(facts.acService));
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
        header += "Set-Cookie: ";
        header += MBWC::ToAnsi(cookie.first, kAnsiCookieBytes);
        header += "=";
        header += MBWC::ToAnsi(cookie.second, kAnsiCookieBytes);
        header += ";path=";
        header += path;
        header += "\r\n";
    }
}

}  // namespace

// ---- host --------------------------------------------------------------------------

SCookieHost SCookieHost::FromProcess() {
    SCookieHost host;
    wchar_t folder[MAX_PATH] = {};
    GetServerFolder(folder, MAX_PATH);
    host.serverFolder = folder;
    host.consoleKind = GetConsoleKind();
    host.tick = [] { return GetTickCount(); };
    host.seconds = [] { return static_cast<int>(static_cast<unsigned long long>(time(nullptr))); };
    host.random15 = DrawRandom15;
    return host;
}

const SCookieHost& ActiveCookieHost() {
    static const SCookieHost processHost = SCookieHost::FromProcess();
    return g_activeHost ? *g_activeHost : processHost;
}

ScopedCookieHost::ScopedCookieHost(const SCookieHost& host) : m_previous(g_activeHost) { g_activeHost = &host; }
ScopedCookieHost::~ScopedCookieHost() { g_activeHost = m_previous; }

// ---- helpers shared with the tests ---------------------------------------------------

bool IsSessionId(const wchar_t* text) {
    if (!text) return false;
    size_t cch = 0;
    for (; text[cch]; ++cch)
        if (cch >= 5 || text[cch] < L'0' || text[cch] > L'9') return false;
    return cch > 0;
}

std::wstring KeyFilePath(const SCookieHost& host, const wchar_t* sessionId) {
    const std::wstring folder = TempFolder(host);
    if (folder.empty() || !IsSessionId(sessionId)) return std::wstring();
    return folder + L"\\.key_" + sessionId;
}

bool ReadEnvironment(const wchar_t* name, std::wstring& value, size_t maxChars) {
    value.clear();
    SetLastError(ERROR_SUCCESS);
    const DWORD cchNeeded = GetEnvironmentVariableW(name, nullptr, 0);
    if (cchNeeded == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    std::wstring text(cchNeeded, L'\0');
    const DWORD cch = GetEnvironmentVariableW(name, &text[0], cchNeeded);
    if (cch >= cchNeeded) return false;  // changed in between
    text.resize(cch < maxChars ? cch : maxChars);
    value.swap(text);
    return true;
}

// The expiry period in milliseconds. A negative period expires every login (the
// plain product would wrap to a period of weeks), and one too long for 32 bits is
// the longest a tick difference can show.
DWORD ExpiryPeriodMs(int minutes) {
    if (minutes <= 0) return 0;
    const DWORD maxMinutes = MAXDWORD / 60000u;
    return static_cast<DWORD>(minutes) >= maxMinutes ? MAXDWORD : static_cast<DWORD>(minutes) * 60000u;
}

// ---- the three operations ----------------------------------------------------------------

int VerifyLoginCookie(SLoginSession& session, const SCookieHost& host) {
    int period = 0;
    CMDHO_GET_INI_INT(L"INI_SERVER_SECTION", L"Cookie_Expire_Period", 30, &period, nullptr);
    const DWORD periodMs = ExpiryPeriodMs(period);
    const std::wstring folder = TempFolder(host);
    if (!folder.empty()) {
        PurgeKeyFiles(folder, host.tick());
        PurgeCompanionFiles(folder, host.tick(), periodMs);
    }
    std::wstring header;
    if (!ReadEnvironment(L"HTTP_COOKIE", header, kCookieHeaderChars)) {
        WDX_TRACE(kTraceFailure, L"[VerifyLoginCookie]HTTP_COOKIE not exist");
        WDX_TRACE(kTraceDetail, L"<== VerifyLoginCookie()");
        return CGI_LOGIN_NO_COOKIE;
    }
    ParseCookieValue(header.c_str(), session, host);
    std::wstring fileKey;
    const int retrieved = RetrieveSessionKey(host, session.session, fileKey);
    if (retrieved != CGI_OK) return retrieved;
    if (!KeysEqual(fileKey, session.key)) return CGI_LOGIN_KEY_MISMATCH;
    const DWORD stamp = wcstoul(session.stamp, nullptr, 10);
    const DWORD now = host.tick();
    WDX_TRACE(kTraceProgress, L"[VerifyLoginCookie]nExpirePeriod=%d minute, GetTickCount()=%u, dwStamp=%u",
              period, now, stamp);
    if (now - stamp <= periodMs) return CGI_OK;
    WDX_TRACE(kTraceFailure, L"[VerifyLoginCookie]GetTickCount()=%u, dwStamp=%u", now, stamp);
    return CGI_LOGIN_EXPIRED;
}

void ParseCookieValue(const wchar_t* cookieHeader, SLoginSession& session, const SCookieHost& host) {
    WDX_TRACE(kTraceDetail, L"==> ParseCookieValue()");
    memset(&session, 0, sizeof(session));
    session.nSSOResult = 1;
    SHandOver handOver;
    const wchar_t* p = cookieHeader ? cookieHeader : L"";
    for (;;) {
        const wchar_t* end = wcschr(p, L';');
        const size_t cch = end ? static_cast<size_t>(end - p) : wcslen(p);
        wchar_t segment[kSegmentChars + 1];
        CopyBounded(segment, kSegmentChars + 1, p, cch);
        TakeSegment(segment, session, handOver);
        if (!end) break;
        p = end + 1;
    }
    AdjustStamp(session, handOver, host);
    CheckSingleSignOn(session, handOver);
    WDX_TRACE(kTraceDetail, L"<== ParseCookieValue()");
}

void ParseCookieSet(const wchar_t* cookieText, CookieSet& cookies) {
    const std::wstring text = cookieText ? cookieText : L"";
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find_first_of(L":;\n", start);
        const std::wstring token = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (token.empty()) return;
        for (size_t pos = 0; pos < token.size();) {
            const size_t eq = token.find(L'=', pos);
            if (eq == std::wstring::npos) break;
            size_t nameStart = pos;
            while (nameStart < eq && token[nameStart] == L' ') ++nameStart;
            const size_t valueEnd = std::min(token.find(L'=', eq + 1), token.size());
            const std::wstring name = token.substr(nameStart, eq - nameStart);
            const std::wstring value = token.substr(eq + 1, valueEnd - eq - 1);
            if (name.empty() || value.empty()) break;
            cookies.emplace(name, value);
            pos = valueEnd + 1;
        }
        if (end == std::wstring::npos) return;
        start = end + 1;
    }
}

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
