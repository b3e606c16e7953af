// PLMCmdMgr_SendCommand against the add-on manager peer on the real command pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AoSMgrPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "aos/util_plm_cmdHandler.h"
#include "ipc/util_ipc_msg_buffer.h"

namespace {

using peers::AoSBehaviour;

const DWORD kWaitMs = testsupport::Slack(10000);
const DWORD kShortBoundMs = 1000;
const wchar_t kSource[] = L".\\util_plm_cmdHandler";
const wchar_t kRegister[] = L"aosmgr_AOS_PLUGIN_REGISTER";

std::vector<BYTE> BytesOf(const CIPCMsgBuffer& buffer) {
    const BYTE* data = buffer.GetData();
    return data != nullptr ? std::vector<BYTE>(data, data + buffer.BytesUsed()) : std::vector<BYTE>();
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A registration message of exactly 150 bytes: id, six texts of 49 characters
// in all (36 + 98 bytes), three zero counts.
void PutRequest150(CIPCMsgBuffer& request) {
    request.PutInt32(1115)
        .PutText(L"KPSE_ADDON_WDX")
        .PutText(L"10.6.1045")
        .PutText(L"C:\\Quillon\\Addon\\WDX")
        .PutText(L"")
        .PutText(L"Pl.dll")
        .PutText(nullptr)
        .PutInt32(0)
        .PutInt32(0)
        .PutInt32(0);
}

TEST(ReplyPipeName, NameTickAndThreadAsSignedDecimals) {
    struct Case {
        const wchar_t* name;
        DWORD tick;
        DWORD threadId;
        const wchar_t* expected;
    } cases[] = {
        {L"aosmgr_AOS_PLUGIN_REGISTER", 734501, 4120, L"aosmgr_AOS_PLUGIN_REGISTER7345014120"},
        {L"x", 0, 0, L"x00"},
        {L"x", 0x7FFFFFFF, 1, L"x21474836471"},
        {L"x", 0x80000000, 7, L"x-21474836487"},  // ticks after 24.8 days
        {L"x", 0xFFFFFFFF, 12, L"x-112"},
        {L"", 5, 6, L"56"},
        {nullptr, 5, 6, L"56"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeReplyPipeName(c.name, c.tick, c.threadId), c.expected);
}

TEST(ReplyPipeName, LiveNameCarriesTheTickAndThisThread) {
    const DWORD before = GetTickCount();
    const std::wstring pipe = MakeReplyPipeName(L"cmd");
    const DWORD after = GetTickCount();
    const std::wstring thread = std::to_wstring(GetCurrentThreadId());
    ASSERT_EQ(pipe.compare(0, 3, L"cmd"), 0);
    ASSERT_TRUE(EndsWith(pipe, thread));
    const DWORD tick = static_cast<DWORD>(std::stoll(pipe.substr(3, pipe.size() - 3 - thread.size())));
    EXPECT_LE(tick - before, after - before);
}

class SendCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace.Started());
        ASSERT_TRUE(manager.Start()) << manager.LastError();
    }
    testsupport::Watchdog watchdog{60000, "command dispatch test"};
    testsupport::TraceCapture trace;
    peers::AoSMgrPeer manager;
};

TEST_F(SendCommand, CountFieldAndPayloadAsTheManagerReadsThem) {
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest150(request);
    ASSERT_EQ(request.BytesUsed(), 150u);
    const std::vector<BYTE> message = BytesOf(request);

    ASSERT_TRUE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    EXPECT_EQ(request.BytesUsed(), 152u);  // the two zero bytes stay appended
    ASSERT_TRUE(manager.WaitForCommands(1, kWaitMs));
    const peers::AoSCommand c = manager.Commands()[0];
    EXPECT_EQ(c.name, kRegister);
    EXPECT_EQ(c.countField, L"152");
    EXPECT_EQ(c.error, L"");
    EXPECT_EQ(c.extraBytes, 0u);
    std::vector<BYTE> expected = message;
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(c.payload, expected);
    ASSERT_TRUE(c.decoded);
    EXPECT_EQ(c.message.id, 1115);
    EXPECT_EQ(c.message.plsId, L"KPSE_ADDON_WDX");
    EXPECT_EQ(c.message.installPath, L"C:\\Quillon\\Addon\\WDX");
    EXPECT_EQ(c.message.plugInPath, L"Pl.dll");
    EXPECT_EQ(c.message.trailing, std::vector<BYTE>({0, 0}));
    EXPECT_TRUE(EndsWith(c.replyPipe, std::to_wstring(GetCurrentThreadId())));
    EXPECT_EQ(c.replyPipe.compare(0, wcslen(kRegister), kRegister), 0);

    // The command text went in pipe messages of at most 1024 bytes.
    const size_t cchText = wcslen(kRegister) + 1 + c.replyPipe.size() + 1 + 3 + 1 + 76;
    DWORD cbTotal = 0;
    for (DWORD cb : c.messageBytes) {
        EXPECT_LE(cb, 1024u);
        cbTotal += cb;
    }
    EXPECT_EQ(cbTotal, cchText * 2);

    EXPECT_EQ(BytesOf(reply), peers::EncodeAoSReply(1116, 0, L""));
    const std::wstring exitLine = L"[PLM Util] <== PLMCmdMgr_SendCommand(aosmgr_AOS_PLUGIN_REGISTER), 1";
    // The log server records each line when its writer disconnects, on one thread
    // per pipe instance: lines may be recorded out of order, so each is waited for.
    EXPECT_TRUE(trace.WaitForLine(kSource, 8, exitLine, kWaitMs));
    EXPECT_TRUE(
        trace.WaitForLine(kSource, 8, L"[PLM Util] ==> PLMCmdMgr_SendCommand (aosmgr_AOS_PLUGIN_REGISTER)", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kSource, 8, L"buffer size(152)", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kSource, 8, L"wstring buffer size(76)", kWaitMs));
}

// Code units that look like TAB or NUL inside the payload travel unchanged.
TEST_F(SendCommand, EveryRequestFieldSurvivesTheCommandText) {
    CIPCMsgBuffer request(1024), reply(1024);
    request.PutInt32(1117).PutText(L"Id\twith tab").PutText(L"\u00e9\u4e2d\U0001F600").PutText(L"").PutText(L"aux");
    request.PutText(L"plug").PutText(L"un");
    request.PutInt32(1).PutText(L"c1").PutText(L"c2").PutInt32(9);
    request.PutInt32(1).PutText(L"g").PutText(L"f.js").PutText(L"d").PutInt32(2).PutInt32(0);
    request.PutInt32(2).PutText(L"Main Page").PutText(L"https://h/p?a=1").PutText(L"P2").PutText(L"");
    ASSERT_TRUE(PLMCmdMgr_SendCommand(request, L"aosmgr_AOS_PLUGIN_UNREGISTER", reply));
    ASSERT_TRUE(manager.WaitForCommands(1, kWaitMs));
    const peers::AoSCommand c = manager.Commands()[0];
    ASSERT_TRUE(c.decoded) << c.error;
    const peers::AoSRequestMessage& m = c.message;
    EXPECT_EQ(m.id, 1117);
    EXPECT_EQ(m.plsId, L"Id\twith tab");
    EXPECT_EQ(m.plsVersion, L"\u00e9\u4e2d\U0001F600");
    EXPECT_EQ(m.auxText, L"aux");
    EXPECT_EQ(m.uninstallPath, L"un");
    ASSERT_EQ(m.components.size(), 1u);
    EXPECT_EQ(m.components[0].number, 9);
    ASSERT_EQ(m.uiExtensions.size(), 1u);
    EXPECT_EQ(m.uiExtensions[0].extensionFileName, L"f.js");
    EXPECT_EQ(m.uiExtensions[0].allowed, 2);
    ASSERT_EQ(m.pages.size(), 2u);
    EXPECT_EQ(m.pages[0].url, L"https://h/p?a=1");
    EXPECT_EQ(m.pages[1].url, L"");
    EXPECT_EQ(BytesOf(reply), peers::EncodeAoSReply(1118, 0, L""));
}

TEST_F(SendCommand, RepliesAreAppendedAsTheyCame) {
    struct Case {
        const char* what;
        AoSBehaviour behaviour;
        std::vector<BYTE> expected;
    } cases[] = {
        {"2500-byte reply", AoSBehaviour::Status(7, std::wstring(1243, L'e')),
         peers::EncodeAoSReply(1116, 7, std::wstring(1243, L'e'))},
        {"wrong id", AoSBehaviour::Of(AoSBehaviour::kWrongId), peers::EncodeAoSReply(1118, 0, L"")},
        {"short", AoSBehaviour::Of(AoSBehaviour::kShort), {0x5C, 0x04, 0, 0}},
        {"empty", AoSBehaviour::Of(AoSBehaviour::kEmpty), {}},
    };
    ASSERT_EQ(cases[0].expected.size(), 2500u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        manager.QueueBehaviour(c.behaviour);
        CIPCMsgBuffer request(1024), reply(1024);
        PutRequest150(request);
        const BYTE marker[3] = {0xBD, 0xBD, 0xBD};
        reply.Append(marker, 3);
        EXPECT_TRUE(PLMCmdMgr_SendCommand(request, kRegister, reply));
        std::vector<BYTE> expected(marker, marker + 3);
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(BytesOf(reply), expected);
    }
}

TEST_F(SendCommand, NoWholeReplyWithinTheBoundOrTheCapFailsAndAppendsNothing) {
    struct Case {
        AoSBehaviour::Kind kind;
        DWORD boundMs;
        std::wstring line;  // the reply pipe's name between
    } cases[] = {{AoSBehaviour::kSilence, kShortBoundMs, L"no reply on pipe | within 1000 ms"},
                 {AoSBehaviour::kStall, kShortBoundMs, L"no reply on pipe | within 1000 ms"},
                 {AoSBehaviour::kEndless, kWaitMs, L"reply on pipe | exceeds 1048576 bytes"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        manager.Clear();
        trace.Clear();
        manager.QueueBehaviour(AoSBehaviour::Of(c.kind));
        CIPCMsgBuffer request(1024), reply(1024);
        PutRequest150(request);
        const DWORD start = GetTickCount();
        EXPECT_FALSE(PLMCmdMgr_SendCommand(request, kRegister, reply, c.boundMs));
        const DWORD elapsed = GetTickCount() - start;
        if (c.boundMs == kShortBoundMs) {
            EXPECT_GE(elapsed, kShortBoundMs - 100);
        }
        EXPECT_LT(elapsed, testsupport::Slack(kShortBoundMs + 3000));
        EXPECT_EQ(reply.BytesUsed(), 0u);
        ASSERT_TRUE(manager.WaitForCommands(1, kWaitMs));
        const std::wstring replyPipe = manager.Commands()[0].replyPipe;
        const size_t bar = c.line.find(L'|');
        EXPECT_TRUE(trace.WaitForLine(kSource, 5, c.line.substr(0, bar) + replyPipe + c.line.substr(bar + 1), kWaitMs));
        EXPECT_TRUE(
            trace.WaitForLine(kSource, 8, L"<== PLMCmdMgr_SendCommand(aosmgr_AOS_PLUGIN_REGISTER), 0", kWaitMs));
    }
}

TEST_F(SendCommand, TwoThreadsGetTheirOwnReplyPipesAndAnswers) {
    std::atomic<int> arrived(0);
    manager.SetResponder([&](const peers::AoSCommand& c) {
        ++arrived;
        for (int i = 0; i < 500 && arrived < 2; ++i) Sleep(10);  // answer only once both are waiting
        return AoSBehaviour::Status(c.message.plsId == L"A" ? 11 : 22);
    });
    struct Result {
        bool ok = false;
        int status = 0;
        DWORD threadId = 0;
    } results[2];
    auto send = [&](const wchar_t* id, Result& result) {
        result.threadId = GetCurrentThreadId();
        CIPCMsgBuffer request(1024), reply(1024);
        request.PutInt32(1115).PutText(id);
        for (int i = 0; i < 5; ++i) request.PutText(L"");
        request.PutInt32(0).PutInt32(0).PutInt32(0);
        result.ok = PLMCmdMgr_SendCommand(request, kRegister, reply);
        int replyId = 0;
        if (reply.BytesUsed() >= 8) {
            reply.GetInt32(replyId);
            reply.GetInt32(result.status);
        }
    };
    std::thread a(send, L"A", std::ref(results[0]));
    std::thread b(send, L"B", std::ref(results[1]));
    a.join();
    b.join();
    EXPECT_TRUE(results[0].ok);
    EXPECT_TRUE(results[1].ok);
    EXPECT_EQ(results[0].status, 11);
    EXPECT_EQ(results[1].status, 22);
    EXPECT_GE(arrived.load(), 2);
    const auto commands = manager.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_NE(commands[0].replyPipe, commands[1].replyPipe);
    for (const auto& c : commands) {
        const Result& r = c.message.plsId == L"A" ? results[0] : results[1];
        EXPECT_TRUE(EndsWith(c.replyPipe, std::to_wstring(r.threadId)));
    }
}

TEST(SendCommandWithoutManager, FailsWithTheOpenErrorTraced) {
    testsupport::Watchdog watchdog(30000, "no manager test");
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest150(request);
    EXPECT_FALSE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    EXPECT_EQ(reply.BytesUsed(), 0u);
    EXPECT_TRUE(
        trace.WaitForLine(L".\\pipe_Util", 5, L"[PipeSendAndRecvW] Initial pipe client failed! err=2", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kSource, 8, L"<== PLMCmdMgr_SendCommand(aosmgr_AOS_PLUGIN_REGISTER), 0", kWaitMs));
    // The request buffer's exceptions are the caller's (the SDK turns them into its result).
    CIPCMsgBuffer borrowed = CIPCMsgBuffer::Borrow(request.GetData(), request.BytesUsed());
    EXPECT_THROW(PLMCmdMgr_SendCommand(borrowed, kRegister, reply), CIPCMsgBufferException);
}

}  // namespace
