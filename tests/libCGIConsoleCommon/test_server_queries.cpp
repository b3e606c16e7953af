// The server queries on the real command pipe, and the single-sign-on helper.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "ConsoleTestSupport.h"
#include "libCGIConsoleCommon/request/cgi_CmdHandler.h"
#include "libCGIConsoleCommon/request/cgi_SSOImp.h"

namespace {

using namespace consoletest;
using peers::CmdReply;

class ServerQueries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace.Started());
        ASSERT_TRUE(handler.Start()) << handler.LastError();
    }
    testsupport::Watchdog watchdog{60000, "server queries"};
    testsupport::TraceCapture trace;
    peers::CmdHandlerPeer handler;
};

TEST_F(ServerQueries, MessagesAndReplies) {
    struct Case {
        const wchar_t* command;
        std::wstring reply;
        std::vector<std::wstring> arguments;  // after name and request id
        std::function<void()> callAndCheck;
    } cases[] = {
        {L"CMDHO_GET_INI_INT",
         L"45",
         {L"INI_SERVER_SECTION", L"Cookie_Expire_Period", L"30", L""},
         [] {
             int value = -1;
             EXPECT_TRUE(plm::CMDHO_GET_INI_INT(L"INI_SERVER_SECTION", L"Cookie_Expire_Period", 30, &value));
             EXPECT_EQ(value, 45);
         }},
        {L"CMDHO_GET_INI_INT",
         L"",
         {L"S", L"K", L"-2", L"Private\\kpsserver.ini"},
         [] {
             int value = -1;  // an empty reply stores 0, not the default
             EXPECT_TRUE(plm::CMDHO_GET_INI_INT(L"S", L"K", -2, &value, L"Private\\kpsserver.ini"));
             EXPECT_EQ(value, 0);
         }},
        {L"CMDHO_GET_INI_INT_BY_CACHE",
         L"7",
         {L"PRODUCT_INFO", L"Registered", L"0", L"1"},
         [] {
             int value = -1;
             EXPECT_TRUE(plm::CMDHO_GET_INI_INT_BY_CACHE(L"PRODUCT_INFO", L"Registered", 0, 1, &value));
             EXPECT_EQ(value, 7);
         }},
        {L"CMDHO_DBCMD_GET_NUMBER_OF_CLIENT",
         L"3",
         {L"5"},
         [] {
             int value = -1;
             plm::CMDHO_DBCMD_GET_NUMBER_OF_CLIENT(5, &value);
             EXPECT_EQ(value, 3);
         }},
        {L"CMDHO_GET_ACCOUNT_BY_INDEX",
         L"0\tadmin",
         {L"12"},
         [] {
             std::wstring account = L"stale";
             EXPECT_FALSE(plm::CMDHO_GET_ACCOUNT_BY_INDEX(12, account));
             EXPECT_EQ(account, L"admin");
         }},
        {L"CMDHO_GET_ACCOUNT_BY_INDEX",
         L"1",
         {L"0"},
         [] {
             std::wstring account = L"stale";
             EXPECT_TRUE(plm::CMDHO_GET_ACCOUNT_BY_INDEX(0, account));
             EXPECT_EQ(account, L"");
         }},
        {L"CMDHO_PR_GET_PRODUCT_ID", L"", {}, [] { EXPECT_EQ(plm::CMDHO_PR_GET_PRODUCT_ID(), 6u); }},
        {L"CMDHO_PR_GET_PRODUCT_ID", L"88", {}, [] { EXPECT_EQ(plm::CMDHO_PR_GET_PRODUCT_ID(), 88u); }},
        {L"CMDHO_PR_GET_AC_SERVICE", L"", {}, [] { EXPECT_EQ(plm::CMDHO_PR_GET_AC_SERVICE(), 0u); }},
        {L"CMDHO_PR_GET_AC_SERVICE",
         L"4294967295",
         {},
         [] { EXPECT_EQ(plm::CMDHO_PR_GET_AC_SERVICE(), 4294967295ul); }},
        {L"CMDHO_PR_GET_PFW_AC_INFO",
         L"1\t0",
         {},
         [] {
             bool first = false, second = true;
             EXPECT_TRUE(plm::CMDHO_PR_GET_PFW_AC_INFO(&first, &second));
             EXPECT_TRUE(first);
             EXPECT_FALSE(second);
         }},
        // The handler sends day, day of week, hour, milliseconds, minute, month, second, year.
        {L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS",
         L"1\t15\t2\t10\t0\t30\t6\t0\t2026",
         {},
         [] {
             bool busy = false;
             SYSTEMTIME when;
             memset(&when, 0xBD, sizeof(when));
             EXPECT_TRUE(plm::CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(&busy, &when));
             EXPECT_TRUE(busy);
             EXPECT_EQ(when.wDay, 15);
             EXPECT_EQ(when.wDayOfWeek, 2);
             EXPECT_EQ(when.wHour, 10);
             EXPECT_EQ(when.wMilliseconds, 0);
             EXPECT_EQ(when.wMinute, 30);
             EXPECT_EQ(when.wMonth, 6);
             EXPECT_EQ(when.wSecond, 0);
             EXPECT_EQ(when.wYear, 2026);
         }},
        {L"CMDHO_GET_SSO_CFG",
         L"first\tsecond",
         {},
         [] {
             std::wstring reply;
             EXPECT_TRUE(plm::CMDHO_GET_SSO_CFG(reply));
             EXPECT_EQ(reply, L"first\tsecond");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << peers::ToUtf8(c.command) << " reply " << peers::ToUtf8(c.reply));
        handler.Clear();
        handler.SetReply(c.command, c.reply.empty() ? CmdReply::Of(CmdReply::kEmpty) : CmdReply::Text(c.reply));
        c.callAndCheck();
        ASSERT_TRUE(handler.WaitForCommands(1, kWaitMs));
        const peers::ServerCommand seen = handler.Commands()[0];
        EXPECT_EQ(seen.Field(0), c.command);
        // The request id: the name, the tick count and the thread id, digits only.
        const std::wstring id = seen.Field(1);
        ASSERT_EQ(id.compare(0, wcslen(c.command), c.command), 0) << peers::ToUtf8(id);
        EXPECT_EQ(id.find_first_not_of(L"-0123456789", wcslen(c.command)), std::wstring::npos);
        EXPECT_EQ(std::vector<std::wstring>(seen.fields.begin() + 2, seen.fields.end()), c.arguments);
    }
}

// A stopped handler gives the fallbacks: period 0, product 6, no account.
TEST(ServerQueriesWithoutHandler, Fallbacks) {
    testsupport::Watchdog watchdog(30000, "queries without handler");
    int value = -1;
    EXPECT_FALSE(plm::CMDHO_GET_INI_INT(L"INI_SERVER_SECTION", L"Cookie_Expire_Period", 30, &value));
    EXPECT_EQ(value, 0);
    value = -1;
    EXPECT_FALSE(plm::CMDHO_GET_INI_INT_BY_CACHE(L"PRODUCT_INFO", L"Registered", 0, 1, &value));
    EXPECT_EQ(value, 0);
    value = -1;
    plm::CMDHO_DBCMD_GET_NUMBER_OF_CLIENT(5, &value);
    EXPECT_EQ(value, 0);
    std::wstring account = L"stale";
    EXPECT_FALSE(plm::CMDHO_GET_ACCOUNT_BY_INDEX(0, account));
    EXPECT_EQ(account, L"");
    EXPECT_EQ(plm::CMDHO_PR_GET_PRODUCT_ID(), 6u);
    EXPECT_EQ(plm::CMDHO_PR_GET_AC_SERVICE(), 0u);
    bool first = true, second = true;
    EXPECT_FALSE(plm::CMDHO_PR_GET_PFW_AC_INFO(&first, &second));
    EXPECT_TRUE(first && second);
    bool busy = true;
    SYSTEMTIME when = {};
    when.wYear = 1999;
    EXPECT_FALSE(plm::CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(&busy, &when));
    EXPECT_TRUE(busy);
    EXPECT_EQ(when.wYear, 1999);
}

class SingleSignOn : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(trace.Started()); }
    testsupport::TraceCapture trace;
    char response[plm::kSsoResponseBytes + 8];
    void Preset() { memset(response, 'Z', sizeof(response)); }
};

TEST_F(SingleSignOn, HelperBesideTheProgram) {
    const std::string longData(1000, 'k');
    struct Case {
        std::wstring session;
        int result;
        std::string response;
    } cases[] = {
        {L"ok-4711", 0, "X-Console-SSO: ok-4711"},
        {L"expired", 2, "X-Console-SSO: expired"},
        {L"", 2, "X-Console-SSO: "},
        // The response becomes a header line: nothing after a CR or LF survives.
        {L"ok\r\nSet-Cookie: session=1", 0, "X-Console-SSO: ok"},
        {L"ok\nX: y", 0, "X-Console-SSO: ok"},
        {std::wstring(L"ok") + std::wstring(1000, L'k'), 0, ("X-Console-SSO: ok" + longData).substr(0, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(peers::ToUtf8(c.session));
        Preset();
        EXPECT_EQ(plm::ValidateSSO(c.session.c_str(), "s2", "s1", response), c.result);
        EXPECT_EQ(std::string(response), c.response);
        EXPECT_EQ(response[plm::kSsoResponseBytes], 'Z');
    }
}

TEST_F(SingleSignOn, UnavailableHelper) {
    testsupport::TempDir dir(L"sso");
    const std::wstring folder = dir.path() + L"\\";
    Preset();
    EXPECT_EQ(plm::ValidateSSOFrom(folder.c_str(), L"ok", "s2", "s1", response), 1);
    EXPECT_EQ(response[0], 'Z');
    EXPECT_TRUE(trace.WaitForLine(
        kSsoSource, 87, L"[ValidateSSO]Load sso library failed(" + folder + L"SSO_PKIHelper.dll)(126)", kWaitMs));
    // A DLL of that name without the entry points.
    ASSERT_TRUE(CopyFileW((testsupport::ExeDir() + L"\\CGIResUTF8.dll").c_str(),
                          (folder + L"SSO_PKIHelper.dll").c_str(), FALSE));
    EXPECT_EQ(plm::ValidateSSOFrom(folder.c_str(), L"ok", "s2", "s1", response), 1);
    EXPECT_EQ(response[0], 'Z');
    EXPECT_TRUE(trace.WaitForLine(kSsoSource, 87, L"[ValidateSSO]Load function failed(127)", kWaitMs));
}

}  // namespace
