#include "cgi_CookieParse.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "cgi_CmdHandler.h"
#include "cgi_Utf8.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/str_Text.h"
#include "foundation/trace_Trace.h"
#include "ipc/cmd_Protocol.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;
const size_t kSegmentChars = 1023;

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
        if (name == target.name) Str::CopyBounded(target.field, target.cchField, value, cchValue);
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
    const std::wstring text = static_cast<DWORD>(adjusted) > now ? std::to_wstring(now) : std::to_wstring(adjusted);
    Str::CopyBounded(session.stamp, kCookieFieldChars, text.c_str(), text.size());
}

// The server's own SSO settings, in the ANSI code page as the platform converts
// them (its best form or its default character for one it lacks): they come from
// the server, not from a client, so nothing is refused. At most maxBytes bytes,
// never ending inside a double-byte character.
std::string ServerTextToAnsi(const std::wstring& text, size_t maxBytes) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX / 4)) return std::string();
    const int cchText = static_cast<int>(text.size());
    const int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), cchText, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return std::string();
    std::string out(static_cast<size_t>(cb), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), cchText, &out[0], cb, nullptr, nullptr) != cb)
        return std::string();
    if (out.size() > maxBytes) {
        size_t keep = 0;
        for (size_t at = 0; at < maxBytes;) {
            const size_t next = at + (IsDBCSLeadByte(static_cast<BYTE>(out[at])) ? 2 : 1);
            if (next > maxBytes) break;
            keep = at = next;
        }
        out.resize(keep);
    }
    return out;
}

void CheckSingleSignOn(SLoginSession& session, const SHandOver& handOver) {
    if (!handOver.virtualPath[0] || !handOver.ssoData[0]) return;
    std::wstring reply;
    if (!CMDHO_GET_SSO_CFG(reply)) return;
    CCmdProtocol tokens(reply.c_str(), static_cast<int>(reply.size() * sizeof(wchar_t)));
    std::wstring first, second;
    tokens.NextString(first);
    tokens.NextString(second);
    const std::string setting1 = ServerTextToAnsi(first, MAX_PATH - 1);
    const std::string setting2 = ServerTextToAnsi(second, MAX_PATH - 1);
    WDX_TRACE(kTraceFlow, L"[ParseCookieValue]SSO case, session data=%s", EscapeForTrace(handOver.ssoData).c_str());
    WDX_TRACE(kTraceFlow, L"[ParseCookieValue]SSO case, virtual path=%s", EscapeForTrace(handOver.virtualPath).c_str());
    session.nSSOResult = ValidateSSO(handOver.ssoData, setting2.c_str(), setting1.c_str(), session.ssoResponse);
    WDX_TRACE(kTraceConsole, L"[ParseCookieValue]SSO case, check result=%d", session.nSSOResult);
    const std::string path = MBWC::ToAnsi(handOver.virtualPath, kVirtualPathBytes - 1);
    memcpy(session.virtualPath, path.data(), path.size());
    session.virtualPath[path.size()] = '\0';
}

}  // namespace

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
        Str::CopyBounded(segment, kSegmentChars + 1, p, cch);
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

}  // namespace plm
