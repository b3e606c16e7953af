// cmdao_PipeSendAndRecv against the command-handler peer on the real command pipe.
#include <gtest/gtest.h>

#include <string>

#include "CmdHandlerPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "ipc/cmd_Protocol.h"

namespace {

using peers::CmdReply;

const DWORD kWaitMs = testsupport::Slack(10000);
const wchar_t kSource[] = L".\\cmdao_OutputCmd";

CmdReply Forged(const std::wstring& forged) {
    CmdReply reply = CmdReply::Text(L"real");
    reply.forgedFirst = forged;
    return reply;
}

class ServerCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace.Started());
        ASSERT_TRUE(handler.Start()) << handler.LastError();
    }
    // name, reply pipe, arguments.
    std::wstring Command(const wchar_t* name, const std::wstring& argument) {
        replyPipe = MakeReplyPipeName(name);
        plm::CCmdProtocol cmd;
        cmd.AddField(name).AddField(replyPipe.c_str()).AddField(argument.c_str());
        return std::wstring(cmd.GetText(), cmd.GetLength());
    }
    testsupport::Watchdog watchdog{60000, "server command test"};
    testsupport::TraceCapture trace;
    peers::CmdHandlerPeer handler;
    std::wstring replyPipe;
};

TEST_F(ServerCommand, TextRoundTrip) {
    struct Case {
        const char* what;
        CmdReply reply;
        std::wstring expected;
    } cases[] = {
        {"short text", CmdReply::Text(L"3900\tvalue \u00e9\u4e2d"), L"3900\tvalue \u00e9\u4e2d"},
        {"3000 characters in 1024-byte messages", CmdReply::Text(std::wstring(3000, L'r')), std::wstring(3000, L'r')},
        {"empty reply", CmdReply::Of(CmdReply::kEmpty), L""},
        // Anyone may connect to the reply pipe: another process that answers first is refused.
        {"another process answers first", Forged(L"1\tforged"), L"real"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        handler.Clear();
        handler.SetReply(L"cmd_QUERY", c.reply);
        const std::wstring text = Command(L"cmd_QUERY", L"arg 1");
        std::wstring reply = L"stale";
        EXPECT_TRUE(cmdao_PipeSendAndRecv(text.c_str(), static_cast<int>(text.size() * 2), replyPipe.c_str(), reply));
        EXPECT_EQ(reply, c.expected);
        ASSERT_TRUE(handler.WaitForCommands(1, kWaitMs));
        const peers::ServerCommand seen = handler.Commands()[0];
        EXPECT_EQ(seen.raw, text);
        EXPECT_EQ(seen.Field(1), replyPipe);
        EXPECT_EQ(seen.Field(2), L"arg 1");
    }
    EXPECT_TRUE(
        trace.WaitForLine(kSource, 8, L"[cmdao_PipeSendAndRecv] Send: cmd_QUERY\t" + replyPipe + L"\targ 1", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(L".\\pipe_Server", 5, L"[CPipeServer::ReadChunk] Refused writer process ", kWaitMs));
    EXPECT_TRUE(trace.HasLine(L".\\pipe_Server", 5,
                              L" on \\\\.\\pipe\\" + replyPipe + L": the reply must come from process " +
                                  std::to_wstring(GetCurrentProcessId())));
}

// Only byteLength bytes are sent (and traced), whatever follows them.
TEST_F(ServerCommand, ByteLengthLimitsTheText) {
    handler.SetReply(L"cmd_X", CmdReply::Text(L"ok"));
    const std::wstring text = Command(L"cmd_X", L"argTAIL");
    const int cbSent = static_cast<int>((text.size() - 4) * 2);
    std::wstring reply;
    EXPECT_TRUE(cmdao_PipeSendAndRecv(text.c_str(), cbSent, replyPipe.c_str(), reply));
    EXPECT_EQ(reply, L"ok");
    ASSERT_TRUE(handler.WaitForCommands(1, kWaitMs));
    EXPECT_EQ(handler.Commands()[0].Field(2), L"arg");
    EXPECT_TRUE(trace.WaitForLine(kSource, 8, L"\targ", kWaitMs));
    EXPECT_FALSE(trace.HasLine(kSource, 8, L"argTAIL"));

    handler.Clear();
    const std::wstring whole = Command(L"cmd_X", L"all");
    EXPECT_TRUE(cmdao_PipeSendAndRecv(whole.c_str(), -1, replyPipe.c_str(), reply));  // up to the NUL
    ASSERT_TRUE(handler.WaitForCommands(1, kWaitMs));
    EXPECT_EQ(handler.Commands()[0].raw, whole);
}

// No whole reply within the bound, or one over 1 MB: the call fails with its
// line. After a time-out the handler gets nothing more from this process.
TEST_F(ServerCommand, NoWholeReplyWithinTheBoundOrTheCapFails) {
    struct Case {
        CmdReply::Kind kind;
        std::wstring line;  // after the reply pipe's name
        bool stalls;
    } cases[] = {{CmdReply::kSilence, L" within 800 ms", true},
                 {CmdReply::kStall, L" within 800 ms", true},
                 {CmdReply::kEndless, L" exceeds 1048576 bytes", false}};
    handler.SetReply(L"cmd_NEXT", CmdReply::Text(L"ok"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        testsupport::ShortBound bound(c.stalls ? 800 : kWaitMs);
        handler.SetReply(L"cmd_SLOW", CmdReply::Of(c.kind));
        const std::wstring text = Command(L"cmd_SLOW", L"");
        std::wstring reply = L"stale";
        const DWORD start = GetTickCount();
        EXPECT_FALSE(cmdao_PipeSendAndRecv(text.c_str(), -1, replyPipe.c_str(), reply));
        EXPECT_LT(GetTickCount() - start, testsupport::Slack(4000));
        EXPECT_TRUE(reply.empty());
        if (c.stalls)
            EXPECT_TRUE(trace.WaitForLine(kSource, 5, L"no reply on pipe " + replyPipe + c.line, kWaitMs));
        else
            EXPECT_TRUE(trace.WaitForLine(L".\\pipe_Server", 5, L"\\\\.\\pipe\\" + replyPipe + c.line, kWaitMs));

        const std::wstring next = Command(L"cmd_NEXT", L"");
        EXPECT_EQ(!c.stalls, cmdao_PipeSendAndRecv(next.c_str(), -1, replyPipe.c_str(), reply));
        EXPECT_LT(GetTickCount() - start, testsupport::Slack(4000)) << "the next command must not wait again";
        EXPECT_EQ(c.stalls, trace.WaitForLine(kSource, 5, L"[cmdao_PipeSendAndRecv] Not sent on " + replyPipe,
                                              c.stalls ? kWaitMs : 0));
    }
}

TEST(ServerCommandWithoutHandler, FailsWhenThePipeIsMissing) {
    testsupport::Watchdog watchdog(30000, "no handler test");
    std::wstring reply = L"stale";
    EXPECT_FALSE(cmdao_PipeSendAndRecv(L"cmd\tpipe", -1, L"WdxNoHandlerReply", reply));
    EXPECT_TRUE(reply.empty());
}

}  // namespace
