// Shared pieces of the console login tests: a simulated server folder with a
// controllable clock, environment variables set for a scope, the command
// handler on its real pipe answering like a server, and captured stdout.
#pragma once
#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "CmdHandlerPeer.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "libCGIConsoleCommon/request/cgi_CookieParse.h"
#include "libCGIConsoleCommon/request/cgi_SetCookie.h"
#include "libCGIConsoleCommon/request/cgi_Verify.h"

namespace consoletest {

const wchar_t kCookieSource[] = L"..\\libCGIConsoleCommon\\cgi_ConsoleCommon";
const wchar_t kSsoSource[] = L"..\\libCGIConsoleCommon\\cgi_SSOImp";
const DWORD kWaitMs = testsupport::Slack(10000);

// A server folder in a temporary place, with a clock and an id source the
// test sets. Ids come from `ids` while it holds values, then count up from 100.
struct TestHost {
    testsupport::TempDir dir{L"console"};
    DWORD tick = 50000000;
    // Far enough from the tick count that a stamp without a timestamp cookie is
    // never moved by the clock adjustment.
    int seconds = 2147483;
    std::deque<int> ids;
    int nextId = 100;
    plm::SCookieHost host;

    TestHost() {
        host.serverFolder = dir.path() + L"\\KPSSRV\\";
        host.purgeSliceMs = 60000;  // every slice its whole 128 ids, however slow the machine
        CreateDirectoryW(host.serverFolder.c_str(), nullptr);
        host.tick = [this] { return tick; };
        host.seconds = [this] { return seconds; };
        host.random15 = [this](int& value) {
            if (ids.empty()) {
                value = nextId++;
            } else {
                value = ids.front();
                ids.pop_front();
            }
            return true;
        };
    }
    std::wstring Temp() const { return host.serverFolder + L"TEMP"; }
    // The two time cookies a response sets for this host's clock.
    std::string Stamps(const char* path = "/quillon") const {
        return "Set-Cookie: stamp=" + std::to_string(tick) + ";path=" + path +
               "\r\nSet-Cookie: timestamp=" + std::to_string(seconds) + ";path=" + path + "\r\n";
    }
    std::wstring KeyFile(const std::wstring& session) const { return Temp() + L"\\.key_" + session; }
    // A 36-byte record: the key zero-padded to 32 bytes and the tick.
    void WriteKeyFile(const std::wstring& session, const std::string& key, DWORD lastAccess) const {
        CreateDirectoryW(Temp().c_str(), nullptr);
        std::string record(32, '\0');
        record.replace(0, key.size() < 32 ? key.size() : 32, key.substr(0, 32));
        for (int i = 0; i < 4; ++i) record += static_cast<char>((lastAccess >> (8 * i)) & 0xFF);
        testsupport::WriteFileText(KeyFile(session), record);
    }
};

// Sets (or with a null value removes) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const wchar_t* value) : m_name(name) {
        wchar_t old[4096];
        const DWORD cch = GetEnvironmentVariableW(name, old, 4096);
        m_had = cch > 0 && cch < 4096;
        if (m_had) m_old = old;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), m_had ? m_old.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring m_name, m_old;
    bool m_had = false;
};

// The command handler answering as a small server does: a 30-minute cookie
// period, account 0 "admin", no backup, SSO settings "s1", "s2".
class ServerPeer {
public:
    ServerPeer() {
        handler.SetReply(L"CMDHO_GET_INI_INT", peers::CmdReply::Text(L"30"));
        handler.SetReply(L"CMDHO_GET_ACCOUNT_BY_INDEX", peers::CmdReply::Text(L"1\tadmin"));
        handler.SetReply(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS", peers::CmdReply::Text(L"0\t0\t0\t0\t0\t0\t0\t0\t0"));
        handler.SetReply(L"CMDHO_GET_SSO_CFG", peers::CmdReply::Text(L"s1\ts2"));
        started = handler.Start();
    }
    peers::CmdHandlerPeer handler{peers::CmdHandlerPeer::kDefaultPipeName, 8};  // room for commands sent together
    bool started = false;
};

// Everything written to the C runtime's stdout within the scope.
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();
    std::string Bytes();  // ends the capture

private:
    testsupport::TempDir m_dir{L"stdout"};
    int m_saved = -1;
    bool m_done = false;
};

std::wstring ListFolder(const std::wstring& folder);

}  // namespace consoletest
