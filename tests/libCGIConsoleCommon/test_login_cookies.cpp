// Login verification, the two cookie parsers and the Set-Cookie lines, with the
// command handler on its real pipe and key files in a simulated server folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "ConsoleTestSupport.h"
#include "foundation/win_Handle.h"
#include "libCGIConsoleCommon/request/cgi_TempFiles.h"

namespace {

using namespace consoletest;
using peers::CmdReply;

const DWORD kPeriodMs = 30u * 60000u;

class LoginCookies : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace.Started());
        ASSERT_TRUE(server.started);
    }
    int Verify(const wchar_t* cookie) {
        ScopedEnv env(L"HTTP_COOKIE", cookie);
        return plm::VerifyLoginCookie(session, test.host);
    }
    std::string SetCookieLines(bool newLogin, const wchar_t* requestCookie, bool sso = false,
                               const plm::CookieList* extra = nullptr) {
        ScopedEnv env(L"HTTP_COOKIE", requestCookie);
        plm::CookieSet cookies;
        std::string header;
        plm::ShowSetCookieInHeader(newLogin, header, extra, cookies, sso, nullptr, test.host);
        return header;
    }
    testsupport::Watchdog watchdog{120000, "login cookies"};
    testsupport::TraceCapture trace;
    ServerPeer server;
    TestHost test;
    plm::SLoginSession session;
};

TEST_F(LoginCookies, Verification) {
    const DWORD now = test.tick;
    struct Case {
        const char* what;
        const wchar_t* cookie;
        DWORD stamp;  // replaces %u in the cookie
        int expected;
    } cases[] = {
        {"valid", L"session=123; key=111222333; stamp=%u", now - 1000, 3900},
        {"stamp exactly one period old", L"session=123; key=111222333; stamp=%u", now - kPeriodMs, 3900},
        {"one millisecond more", L"session=123; key=111222333; stamp=%u", now - kPeriodMs - 1, 3905},
        {"key differs", L"session=123; key=111222334; stamp=%u", now, 3904},
        {"cookie key a prefix of the file's", L"session=123; key=111; stamp=%u", now, 3904},
        {"file key a prefix of the cookie's", L"session=123; key=1112223334; stamp=%u", now, 3904},
        {"key case differs", L"session=7; key=abc; stamp=%u", now, 3904},
        {"no key file", L"session=124; key=111222333; stamp=%u", now, 3907},
        {"no session cookie", L"key=111222333; stamp=%u", now, 3907},
        {"path in the session id", L"session=..\\..\\evil; key=1; stamp=%u", now, 3907},
        {"path to a record outside the key folder", L"session=\\..\\..\\victim; key=kv; stamp=%u", now, 3907},
        {"six digits", L"session=123456; key=1; stamp=%u", now, 3907},
        {"signed id", L"session=+123; key=1; stamp=%u", now, 3907},
        {"short key file", L"session=8; key=1; stamp=%u", now, 3904},
        {"key without terminator", L"session=9; key=%u", now, 3904},
        {"idle a day, before the purge comes to it", L"session=10; key=k10; stamp=%u", now, 3907},
        {"used a period ago, on the server", L"session=11; key=k; stamp=%u", now, 3900},
        {"one millisecond more, a fresh stamp", L"session=12; key=k; stamp=%u", now, 3905},
        {"a hard link to a record elsewhere", L"session=13; key=kv; stamp=%u", now, 3907},
        {"a folder", L"session=14; key=kv; stamp=%u", now, 3907},
    };
    test.WriteKeyFile(L"123", "111222333", now);
    test.WriteKeyFile(L"7", "ABC", now);
    test.WriteKeyFile(L"11", "k", now - kPeriodMs);
    test.WriteKeyFile(L"12", "k", now - kPeriodMs - 1);
    CreateDirectoryW(test.KeyFile(L"14").c_str(), nullptr);
    CreateDirectoryW(test.Temp().c_str(), nullptr);
    testsupport::WriteFileText(test.KeyFile(L"8"), std::string("1\0", 2) + std::string(10, '\0'));
    testsupport::WriteFileText(test.KeyFile(L"9"), std::string(32, '7') + std::string(4, '\0'));
    // Shaped like a key record, so that opening it would rewrite its tick.
    test.WriteKeyFile(L"\\..\\..\\victim", "kv", 1);
    const std::string victim = testsupport::ReadFileBytes(test.host.serverFolder + L"victim");
    ASSERT_EQ(victim.size(), 36u);
    ASSERT_TRUE(CreateHardLinkW(test.KeyFile(L"13").c_str(), (test.host.serverFolder + L"victim").c_str(), nullptr));
    Verify(L"");  // the minute's purge pass, whose marker stays in the folder
    const std::wstring before = ListFolder(test.Temp());
    test.WriteKeyFile(L"10", "k10", now - 1440u * 60000u - 1);  // goes with its check (the listing below)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wchar_t cookie[256];
        _snwprintf(cookie, 256, c.cookie, c.stamp);
        EXPECT_EQ(Verify(cookie), c.expected);
    }
    EXPECT_EQ(ListFolder(test.Temp()), before);
    EXPECT_EQ(testsupport::ReadFileBytes(test.host.serverFolder + L"victim"), victim);
    EXPECT_FALSE(testsupport::FileExists(test.dir.path() + L"\\evil"));
    EXPECT_FALSE(testsupport::FileExists(test.host.serverFolder + L"evil"));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 5, L"retrieve session key failed.", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 5,
                                  L"[VerifyLoginCookie]GetTickCount()=" + std::to_wstring(now) + L", dwStamp=" +
                                      std::to_wstring(now - kPeriodMs - 1),
                                  kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 8,
                                  L"[VerifyLoginCookie]nExpirePeriod=30 minute, GetTickCount()=" +
                                      std::to_wstring(now) + L", dwStamp=" + std::to_wstring(now - 1000),
                                  kWaitMs));
}

TEST_F(LoginCookies, VerificationRefreshesTheKeyFile) {
    test.WriteKeyFile(L"5", "k5", test.tick - 1);
    const std::string idle = testsupport::ReadFileBytes(test.KeyFile(L"5"));
    EXPECT_EQ(Verify((L"session=5; key=k6; stamp=" + std::to_wstring(test.tick)).c_str()), 3904);
    EXPECT_EQ(testsupport::ReadFileBytes(test.KeyFile(L"5")), idle);  // a wrong key refreshes nothing
    EXPECT_EQ(Verify((L"session=5; key=k5; stamp=" + std::to_wstring(test.tick)).c_str()), 3900);
    const std::string record = testsupport::ReadFileBytes(test.KeyFile(L"5"));
    ASSERT_EQ(record.size(), 36u);
    DWORD lastAccess = 0;
    memcpy(&lastAccess, record.data() + 32, 4);
    EXPECT_EQ(lastAccess, test.tick);
    EXPECT_EQ(record.substr(0, 3), std::string("k5\0", 3));
}

TEST_F(LoginCookies, TickCountWrap) {
    test.tick = 5000;
    test.WriteKeyFile(L"5", "k5", 0xFFFFF000u);
    EXPECT_EQ(Verify(L"session=5; key=k5; stamp=4294963200"), 3900);  // 9096 ms ago
    test.tick = kPeriodMs - 4096;
    EXPECT_EQ(Verify(L"session=5; key=k5; stamp=4294963200"), 3900);
    test.tick = kPeriodMs - 4095;
    EXPECT_EQ(Verify(L"session=5; key=k5; stamp=4294963200"), 3905);
}

TEST_F(LoginCookies, NoCookieHeader) {
    EXPECT_EQ(Verify(nullptr), 3906);
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 5, L"[VerifyLoginCookie]HTTP_COOKIE not exist", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 6, L"<== VerifyLoginCookie()", kWaitMs));
}

// Without the handler the period is 0: a login one millisecond old has expired.
TEST_F(LoginCookies, StoppedHandlerExpiresEveryLogin) {
    server.handler.Stop();
    test.WriteKeyFile(L"5", "k5", test.tick);
    EXPECT_EQ(Verify((L"session=5; key=k5; stamp=" + std::to_wstring(test.tick - 1)).c_str()), 3905);
}

// A period that is negative or too long for 32-bit milliseconds neither wraps
// into a long life for every login nor into an early expiry.
TEST_F(LoginCookies, PeriodOutOfRange) {
    test.WriteKeyFile(L"5", "k5", test.tick);
    const std::wstring hourOld = L"session=5; key=k5; stamp=" + std::to_wstring(test.tick - 3600000u);
    const struct {
        int period;
        int expected;
    } cases[] = {{-1, 3905}, {-71583, 3905}, {71583, 3900}, {2147483647, 3900}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period);
        server.handler.SetReply(L"CMDHO_GET_INI_INT", peers::CmdReply::Text(std::to_wstring(c.period)));
        EXPECT_EQ(Verify(hourOld.c_str()), c.expected);
    }
}

// Outside a server install nothing is opened or created anywhere.
TEST_F(LoginCookies, NoServerFolder) {
    test.host.serverFolder.clear();
    EXPECT_EQ(Verify(L"session=5; key=k5; stamp=1"), 3907);
    const std::string header = SetCookieLines(true, nullptr);
    EXPECT_NE(header.find("Set-Cookie: session="), std::string::npos);
    EXPECT_EQ(ListFolder(test.dir.path() + L"\\KPSSRV"), L".|..|");
}

// Sets a file's times (100 ns units) back by the given minutes.
void AgeFile(const std::wstring& path, ULONGLONG minutes) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= minutes * 60u * 10000000u;
    const FILETIME then{t.LowPart, t.HighPart};
    const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, &then, &then, &then));
    CloseHandle(file);
}

// The purge marker's state word: the step a pass made in slices comes to next.
void SetPurgeStep(const TestHost& test, DWORD step) {
    testsupport::WriteFileText(test.Temp() + L"\\.logins_purged", std::string(reinterpret_cast<char*>(&step), 4));
}

TEST_F(LoginCookies, Purges) {
    const DWORD now = test.tick;
    const DWORD day = 1440u * 60000u;
    const struct {
        const wchar_t* session;
        DWORD tick;
        bool kept;
    } keys[] = {
        {L"1", now - day - 1, false},    // idle too long
        {L"2", now - day, true},         // just kept
        {L"4", now + 5, false},          // from before the tick count restarted
        {L"6", now + 20 * day, false},   // far ahead
        {L"5", now, false},              // a fresh tick, its file written a day and a minute ago
        {L"127", now - day - 1, false},  // the slice's last id
        {L"128", now - day - 1, true},   // the next slice's
    };
    for (const auto& k : keys) test.WriteKeyFile(k.session, "k", k.tick);
    AgeFile(test.KeyFile(L"5"), 1441);
    testsupport::WriteFileText(test.KeyFile(L"3"), "short");
    // Without a whole record a key file goes by its age: a day and a minute.
    testsupport::WriteFileText(test.KeyFile(L"8"), "short");
    testsupport::WriteFileText(test.KeyFile(L"9"), "");
    AgeFile(test.KeyFile(L"8"), 1441);
    AgeFile(test.KeyFile(L"9"), 1441);
    // Links planted in TEMP are neither judged nor changed: their targets stay whole.
    const std::wstring victim = test.host.serverFolder + L"victim";
    testsupport::WriteFileText(victim, std::string(36, 'v'));  // an idle record by its tick
    ASSERT_TRUE(CreateHardLinkW(test.KeyFile(L"10").c_str(), victim.c_str(), nullptr));
    const std::string victimBytes = testsupport::ReadFileBytes(victim);
    EXPECT_EQ(Verify(L"session=2; key=k; stamp=1"), 3905);
    for (const auto& k : keys) EXPECT_EQ(testsupport::FileExists(test.KeyFile(k.session)), k.kept) << k.session;
    EXPECT_TRUE(testsupport::FileExists(test.KeyFile(L"3")));
    EXPECT_FALSE(testsupport::FileExists(test.KeyFile(L"8")));
    EXPECT_FALSE(testsupport::FileExists(test.KeyFile(L"9")));

    const DWORD margin = 5u * 60000u;
    const struct {
        const wchar_t* stem;
        DWORD stored;
        bool deleted;
    } companions[] = {
        {L"old", now - kPeriodMs - 1, true},
        {L"edge", now - kPeriodMs, false},
        {L"future", now + 5, false},
        {L"rebooted", now + margin + 1, false},  // later than now: kept
    };
    for (const auto& c : companions) {
        for (const wchar_t* ext : {L".lci", L".lco", L".lcx", L".lcd"}) {
            const std::string content = std::wstring(ext) == L".lci" ? std::to_string(c.stored) : "data";
            testsupport::WriteFileText(test.Temp() + L"\\" + c.stem + ext, content);
        }
    }
    testsupport::WriteFileText(test.Temp() + L"\\linked.lci", std::to_string(now - kPeriodMs - 1));
    ASSERT_TRUE(CreateHardLinkW((test.Temp() + L"\\linked.lco").c_str(), victim.c_str(), nullptr));
    SetPurgeStep(test, 32769);
    EXPECT_EQ(Verify(L"session=2; key=k; stamp=1"), 3905);
    for (const auto& c : companions) {
        for (const wchar_t* ext : {L".lci", L".lco", L".lcx", L".lcd"}) {
            SCOPED_TRACE(peers::ToUtf8(std::wstring(c.stem) + ext));
            EXPECT_EQ(testsupport::FileExists(test.Temp() + L"\\" + c.stem + ext), !c.deleted);
        }
    }
    EXPECT_FALSE(testsupport::FileExists(test.Temp() + L"\\linked.lci"));
    EXPECT_TRUE(testsupport::FileExists(test.Temp() + L"\\linked.lco"));
    EXPECT_EQ(testsupport::ReadFileBytes(victim), victimBytes);
    EXPECT_TRUE(testsupport::FileExists(test.KeyFile(L"10")));

    // The pass is done: the next request leaves a newly idle file, the first
    // after the minute purges it. The clock is read per file: a login made
    // while the pass runs (the clock moving a minute a file) is kept.
    test.WriteKeyFile(L"1", "a", now - day - 1);
    EXPECT_EQ(Verify(L"session=2; key=k; stamp=1"), 3905);
    EXPECT_TRUE(testsupport::FileExists(test.KeyFile(L"1")));
    AgeFile(test.Temp() + L"\\.logins_purged", 1);
    for (int id = 11; id < 20; ++id) test.WriteKeyFile(std::to_wstring(id), "k", now);
    test.WriteKeyFile(L"20", "k", now + 5 * 60000u);
    test.host.tick = [this] { return test.tick += 60000; };
    Verify(L"");
    EXPECT_FALSE(testsupport::FileExists(test.KeyFile(L"1")));
    EXPECT_TRUE(testsupport::FileExists(test.KeyFile(L"20")));
}

TEST_F(LoginCookies, ParseCookieValue) {
    test.seconds = 1000000;
    test.tick = 50000;
    struct Case {
        const wchar_t* header;
        const wchar_t* key;
        const wchar_t* stamp;
        const wchar_t* session;
    } cases[] = {
        {L"key=first; session=1; key=second", L"second", L"", L"1"},
        {L" key=a b;stamp=12\r\nignored", L"a b", L"12", L""},
        {L"keys=x; Key=y; key", L"", L"", L""},
        {L"session=..\\x;key=1=2", L"1=2", L"", L"..\\x"},
        // A browser clock ahead of the server: the stamp comes back to the tick count.
        {L"stamp=1000; timestamp=1000010", L"", L"50000", L""},
        {L"stamp=1000; timestamp=999960", L"", L"10000", L""},
        {L"stamp=20000; timestamp=999960", L"", L"20000", L""},
        {L"stamp=0; timestamp=1000010", L"", L"0", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(peers::ToUtf8(c.header));
        plm::ParseCookieValue(c.header, session, test.host);
        EXPECT_STREQ(session.key, c.key);
        EXPECT_STREQ(session.stamp, c.stamp);
        EXPECT_STREQ(session.session, c.session);
        EXPECT_EQ(session.nSSOResult, 1);
    }
}

TEST_F(LoginCookies, CookieSetParser) {
    struct Case {
        const wchar_t* text;
        plm::CookieSet expected;
    } cases[] = {
        {L"key=first; session=1; key=second", {{L"key", L"first"}, {L"session", L"1"}}},
        {L"a=b=c=d", {{L"a", L"b"}, {L"c", L"d"}}},
        {L"a=http://x; b=2", {{L"a", L"http"}, {L"b", L"2"}}},
        {L"a=1;; b=2", {{L"a", L"1"}}},
        {L"=1; b=; c=3", {{L"c", L"3"}}},
        {L"a=1\nb=2\r\n", {{L"a", L"1"}, {L"b", L"2\r"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(peers::ToUtf8(c.text));
        plm::CookieSet cookies;
        plm::ParseCookieSet(c.text, cookies);
        EXPECT_EQ(cookies, c.expected);
    }
}

TEST_F(LoginCookies, NewLogin) {
    // The key takes the first three values (joined last first), the session id the fourth.
    const std::string header = SetCookieLines(true, L"session=9; key=9");
    EXPECT_EQ(header,
              "Set-Cookie: key=102101100;path=/quillon\r\nSet-Cookie: session=103;path=/quillon\r\n" + test.Stamps());
    const std::wstring keyFile = test.KeyFile(L"103");
    EXPECT_TRUE(GetFileAttributesW(keyFile.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    const std::string record = testsupport::ReadFileBytes(keyFile);
    ASSERT_EQ(record.size(), 36u);
    EXPECT_EQ(record.substr(0, 9), "102101100");
    EXPECT_EQ(record.substr(9, 23), std::string(23, '\0'));
    EXPECT_EQ(Verify((L"session=103; key=102101100; stamp=" + std::to_wstring(test.tick)).c_str()), 3900);
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 68, L"[ShowSetCookieInHeader] Will create the new cookie.", kWaitMs));
}

// A file's DACL in SDDL, and the SID of the process's user.
std::wstring Sddl(PSECURITY_DESCRIPTOR sd, SECURITY_INFORMATION what) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) return L"";
    const std::wstring result = text;
    LocalFree(text);
    return result;
}
std::wstring DaclOf(const std::wstring& path) {
    DWORD cb = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &cb);
    std::vector<unsigned char> sd(cb ? cb : 1);
    if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), cb, &cb)) return L"unreadable";
    return Sddl(sd.data(), DACL_SECURITY_INFORMATION);
}
std::wstring UserSid() {
    OS::UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
    alignas(8) unsigned char buffer[256] = {};  // aligned for the record's pointer
    DWORD cb = 0;
    GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &cb);
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return L"";
    const std::wstring result = text;
    LocalFree(text);
    return result;
}

// Key files, markers and uploads are the console account's alone: a protected
// DACL (nothing from the folder) for the user, SYSTEM and Administrators.
TEST_F(LoginCookies, PrivateFiles) {
    const std::string header = SetCookieLines(true, nullptr);
    Verify(L"");
    plm::CRequestTempFiles uploads(nullptr);
    ASSERT_TRUE(uploads.Create(test.Temp() + L"\\", L"KPS"));
    const std::wstring user = L"(A;;FA;;;" + UserSid() + L")";
    std::wstring expected = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)" + user;
    // Wine keeps a file's DACL only as far as its Unix mode bits hold it: no
    // protection flag, no group entry, and a plain file reads back with
    // Everyone's entry (which the private ones must lack).
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        expected = L"D:(A;;FA;;;SY)" + user;
        testsupport::WriteFileText(test.Temp() + L"\\plain", "x");
        EXPECT_EQ(DaclOf(test.Temp() + L"\\plain"), expected + L"(A;;0x1200a9;;;WD)");
    }
    for (const std::wstring& path : {test.KeyFile(L"103"), test.Temp() + L"\\.logins_purged", uploads.LastPath()}) {
        SCOPED_TRACE(peers::ToUtf8(path));
        EXPECT_EQ(DaclOf(path), expected);
    }
}

TEST(LoginRandomSource, SystemGeneratorRange) {
    const plm::SCookieHost host = plm::SCookieHost::FromProcess();
    int low = 32768, high = -1;
    for (int i = 0; i < 2000; ++i) {
        int value = -1;
        ASSERT_TRUE(host.random15(value));
        low = std::min(low, value), high = std::max(high, value);
    }
    EXPECT_GE(low, 0);
    EXPECT_LE(high, 32767);
    EXPECT_GT(high - low, 30000);
}

// Another live login's key file is never replaced; a new id is drawn instead.
TEST_F(LoginCookies, NewLoginKeepsOtherKeyFiles) {
    test.WriteKeyFile(L"7", "other", 1);
    test.WriteKeyFile(L"8", "other", 1);
    test.ids = {1, 2, 3, 7, 8, 9};  // key values first, then session ids
    EXPECT_NE(SetCookieLines(true, nullptr).find("session=9;"), std::string::npos);
    EXPECT_EQ(testsupport::ReadFileBytes(test.KeyFile(L"7")).substr(0, 5), "other");
    EXPECT_EQ(testsupport::ReadFileBytes(test.KeyFile(L"8")).substr(0, 5), "other");
    EXPECT_EQ(testsupport::ReadFileBytes(test.KeyFile(L"9")).substr(0, 3), "321");

    // No login when every id drawn is taken (always 7) or a draw fails (at the
    // key, at the id): no cookie line, no key file, a failure trace.
    const struct {
        const char* what;
        std::deque<int> draws;  // -1: the draw fails; after the last: always 7
        const wchar_t* trace;
    } refused[] = {
        {"every id taken", {1, 2, 3}, L"[ShowSetCookieInHeader] no login created: 16 session ids drawn, all taken"},
        {"no key", {1, -1}, L"[ShowSetCookieInHeader] no login created: no random key"},
        {"no id", {1, 2, 3, -1}, L"[ShowSetCookieInHeader] no login created: no random session id"}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        test.ids = c.draws;
        test.host.random15 = [this](int& value) {
            value = test.ids.empty() ? 7 : test.ids.front();
            if (!test.ids.empty()) test.ids.pop_front();
            return value >= 0;
        };
        EXPECT_EQ(SetCookieLines(true, nullptr), "");
        EXPECT_EQ(testsupport::ReadFileBytes(test.KeyFile(L"7")).substr(0, 5), "other");
        EXPECT_EQ(ListFolder(test.Temp()), L".|..|.key_7|.key_8|.key_9|");
        EXPECT_TRUE(trace.WaitForLine(kCookieSource, 5, c.trace, kWaitMs));
    }
}

TEST_F(LoginCookies, CookiePaths) {
    const struct {
        int kind;
        bool sso;
        const char* path;
    } cases[] = {{6, false, "/quillon"},
                 {88, false, "/Vok"},
                 {108, false, "/Trel"},
                 {109, false, "/hubconsole"},
                 {6, true, "/HubConsole/SSO_PKI"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        test.host.consoleKind = c.kind;
        EXPECT_EQ(SetCookieLines(false, L"a=1", c.sso),
                  std::string("Set-Cookie: a=1;path=") + c.path + "\r\n" + test.Stamps(c.path));
    }
}

TEST_F(LoginCookies, CarriedLogin) {
    const plm::CookieList extra = {{L"x", L"new"}, {L"evil", L"a\r\n\\nSet-Cookie: y=1"}};
    const std::string header =
        SetCookieLines(false,
                       L"session=12; key=34; session_id=9; HUBC_VirtualPath=/v; HUBC_Session_Data=ok; "
                       L"LoginNameIndex=0; x=old; flag_product=1; bad=a\rb; stamp=1; timestamp=2; fit=\u0100b",
                       false, &extra);
    EXPECT_EQ(header,
              "Set-Cookie: LoginNameIndex=0;path=/quillon\r\n"
              "Set-Cookie: key=34;path=/quillon\r\n"
              "Set-Cookie: session=12;path=/quillon\r\n" +
                  test.Stamps() + "Set-Cookie: x=new;path=/quillon\r\n");
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 68, L"[ShowSetCookieInHeader] Get environmental variable HTTP_COOKIE",
                                  kWaitMs));
    EXPECT_TRUE(
        trace.WaitForLine(kCookieSource, 68, L"[ShowSetCookieInHeader] get extra cookie name =x value=new", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(
        kCookieSource, 68, L"[ShowSetCookieInHeader] get extra cookie name =evil value=a\\r\\n\\\\nSet-Cookie: y=1",
        kWaitMs));
}

TEST_F(LoginCookies, AccountCheck) {
    const struct {
        const char* what;
        const wchar_t* index;
        CmdReply account;
        bool zeroStamps;
    } cases[] = {
        {"known account", L"0", CmdReply::Text(L"1\tadmin"), false},
        {"removed account", L"3\t\r\x01", CmdReply::Text(L"0\t"), true},
        {"empty index", L"", CmdReply::Text(L"1\tadmin"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.handler.SetReply(L"CMDHO_GET_ACCOUNT_BY_INDEX", c.account);
        const plm::CookieList extra = {{L"LoginNameIndex", c.index}};
        const std::string header = SetCookieLines(false, L"a=1", false, &extra);
        EXPECT_EQ(header.find("stamp=0;") != std::string::npos, c.zeroStamps);
        EXPECT_EQ(header.find("timestamp=0;") != std::string::npos, c.zeroStamps);
    }
    EXPECT_TRUE(trace.WaitForLine(
        kCookieSource, 68,
        L"[ShowSetCookieInHeader][cookie]account auth fail: someone kill the account account index=[3\\t\\r\\x01].",
        kWaitMs));
}

// The six server queries after the account check, sent together: the handler
// answers none until all six have arrived (its threads may take them in any order).
TEST_F(LoginCookies, ServerQueriesOfTheCookieOutput) {
    server.handler.Clear();
    server.handler.SetOnCommand([this](const peers::ServerCommand&) { server.handler.WaitForCommands(6, 5000); });
    const DWORD start = GetTickCount();
    SetCookieLines(false, L"a=1");
    EXPECT_LT(GetTickCount() - start, testsupport::Slack(4000));
    ASSERT_TRUE(server.handler.WaitForCommands(6, kWaitMs));
    std::map<std::wstring, std::wstring> seen;  // name, last argument
    for (const auto& command : server.handler.Commands())
        seen[command.Field(0)] = command.fields.size() > 2 ? command.fields.back() : L"";
    EXPECT_EQ(seen, (std::map<std::wstring, std::wstring>{{L"CMDHO_DBCMD_GET_NUMBER_OF_CLIENT", L"5"},
                                                          {L"CMDHO_GET_INI_INT_BY_CACHE", L"1"},
                                                          {L"CMDHO_PR_GET_PRODUCT_ID", L""},
                                                          {L"CMDHO_PR_GET_AC_SERVICE", L""},
                                                          {L"CMDHO_GET_INI_INT", L"Private\\kpsserver.ini"},
                                                          {L"CMDHO_PR_GET_PFW_AC_INFO", L""}}));
}

TEST_F(LoginCookies, SingleSignOnHandOver) {
    const struct {
        const wchar_t* cookie;
        int result;
        const char* response;
    } cases[] = {
        {L"HUBC_VirtualPath=/HubConsole/v1; HUBC_Session_Data=ok-77", 0, "X-Console-SSO: ok-77"},
        {L"HUBC_VirtualPath=/HubConsole/v1; HUBC_Session_Data=nope", 2, "X-Console-SSO: nope"},
        {L"HUBC_VirtualPath=; HUBC_Session_Data=ok-77", 1, ""},
        // No ANSI form: refused whole, not sent as "ok??".
        {L"HUBC_VirtualPath=/HubConsole/v1; HUBC_Session_Data=ok\x85\u2028", 2, "X-Console-SSO: "},
        // The server's own settings are converted, a character without an ANSI form included.
        {L"HUBC_VirtualPath=/HubConsole/v1; HUBC_Session_Data=ok-settings", 0, "X-Console-SSO: s?|s2"},
    };
    server.handler.SetReply(L"CMDHO_GET_SSO_CFG", peers::CmdReply::Text(L"s\u4E00\ts2"));
    for (const auto& c : cases) {
        SCOPED_TRACE(peers::ToUtf8(c.cookie));
        plm::ParseCookieValue(c.cookie, session, test.host);
        EXPECT_EQ(session.nSSOResult, c.result);
        EXPECT_STREQ(session.ssoResponse, c.response);
        EXPECT_STREQ(session.virtualPath, c.result == 1 ? "" : "/HubConsole/v1");
    }
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 68, L"[ParseCookieValue]SSO case, session data=ok-77", kWaitMs));
    EXPECT_TRUE(
        trace.WaitForLine(kCookieSource, 68, L"[ParseCookieValue]SSO case, session data=ok\\x85\\u2028", kWaitMs));
    EXPECT_TRUE(
        trace.WaitForLine(kCookieSource, 68, L"[ParseCookieValue]SSO case, virtual path=/HubConsole/v1", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 73, L"[ParseCookieValue]SSO case, check result=2", kWaitMs));
}

}  // namespace
