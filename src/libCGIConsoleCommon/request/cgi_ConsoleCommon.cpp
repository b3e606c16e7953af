#include "cgi_ConsoleCommon.h"

#include <ntsecapi.h>

#include <ctime>

#include "cgi_HostPaths.h"

namespace plm {

extern const wchar_t kConsoleCommonSource[] = L"..\\libCGIConsoleCommon\\cgi_ConsoleCommon";

namespace {

const SCookieHost* g_activeHost = nullptr;

// One value 0..32767 from the system's cryptographic generator.
bool DrawRandom15(int& value) {
    unsigned short bits = 0;
    if (!RtlGenRandom(&bits, sizeof(bits))) return false;
    value = bits & 0x7FFF;
    return true;
}

}  // namespace

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

}  // namespace plm
