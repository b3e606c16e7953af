// The log client against a real log-server peer, and the channels end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "LogServerPeer.h"
#include "TestSupport.h"
#include "TraceTestSupport.h"
#include "diag/logcl_Command.h"
#include "foundation/win_Handle.h"

using peers::LogRecord;
using peers::LogServerPeer;
using tracetest::g_localLines;
using tracetest::OwnExeName;

namespace {

const DWORD kWaitMs = testsupport::Slack(10000);

std::wstring UniquePipeName(const wchar_t* what) {
    return std::wstring(L"WdxDiagTest_") + what + L"_" + std::to_wstring(GetCurrentProcessId());
}

class LogClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_localLines.clear();
        ASSERT_TRUE(peer.Start()) << peer.LastError();
    }
    LogRecord Only() {
        EXPECT_TRUE(peer.WaitForRecords(1, kWaitMs));
        const auto records = peer.Records();
        return records.empty() ? LogRecord() : records[0];
    }

    testsupport::Watchdog watchdog{60000, "log client test"};
    std::wstring pipeName = UniquePipeName(L"log");
    LogServerPeer peer{pipeName};
};

TEST_F(LogClientTest, RecordFieldsAsTheServerReadsThem) {
    CLogClient client(CLogClient::kWriteWhole, &tracetest::RecordLocal, pipeName.c_str());
    ASSERT_TRUE(client.SendLogWrite(1300000000, 4, 8, 68, L"AoSSrvSDK", 146, L"x"));
    const LogRecord r = Only();
    EXPECT_EQ(r.raw, L"LOG_WRITE\t1300000000\t4\t8\t68\tAoSSrvSDK\t146\tx");
    EXPECT_TRUE(r.endsWithNul);
    ASSERT_EQ(r.messageBytes.size(), 1u);
    EXPECT_EQ(r.messageBytes[0], 2 * (r.raw.size() + 1));
    EXPECT_TRUE(g_localLines.empty());
}

TEST_F(LogClientTest, NumbersKeepTheirSignedness) {
    CLogClient client(CLogClient::kWritePieces, &tracetest::RecordLocal, pipeName.c_str());
    ASSERT_TRUE(client.SendLogWrite(INT_MIN, 4294967295u, 0, -1, nullptr, -7, nullptr));
    const LogRecord r = Only();
    // A time after 2038 travels as a negative number; null texts give empty fields.
    EXPECT_EQ(r.raw, L"LOG_WRITE\t-2147483648\t4294967295\t0\t-1\t\t-7\t");
    EXPECT_EQ(r.fields.size(), 8u);
}

TEST_F(LogClientTest, TabInTheTextSplitsTheRecord) {
    CLogClient client(CLogClient::kWriteWhole, &tracetest::RecordLocal, pipeName.c_str());
    ASSERT_TRUE(client.SendLogWrite(1, 2, 3, 4, L"f", 5, L"a\tb"));
    EXPECT_EQ(Only().fields.size(), 9u);  // nothing is escaped
}

TEST_F(LogClientTest, LongTextTravelsInPiecesOrWhole) {
    const std::wstring text(600, L'z');
    struct Case {
        CLogClient::WriteMode mode;
        bool severalMessages;
    } cases[] = {{CLogClient::kWritePieces, true}, {CLogClient::kWriteWhole, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        peer.Clear();
        CLogClient client(c.mode, &tracetest::RecordLocal, pipeName.c_str());
        ASSERT_TRUE(client.SendLogWrite(1, 2, 3, 4, L"f", 5, text.c_str()));
        const LogRecord r = Only();
        EXPECT_EQ(r.Field(7), text);
        EXPECT_TRUE(r.endsWithNul);
        if (c.severalMessages) {
            EXPECT_GE(r.messageBytes.size(), 2u);
            for (DWORD cb : r.messageBytes) EXPECT_LE(cb, 1024u);
        } else {
            EXPECT_EQ(r.messageBytes.size(), 1u);
        }
    }
}

TEST(LogClientFailures, MissingServerGivesTheHintOncePerInstance) {
    const std::wstring name = UniquePipeName(L"nobody");
    g_localLines.clear();
    CLogClient first(CLogClient::kWritePieces, &tracetest::RecordLocal, name.c_str());
    EXPECT_FALSE(first.SendLogWrite(1, 2, 3, 4, L"f", 5, L"one"));
    ASSERT_EQ(g_localLines.size(), 1u);
    EXPECT_EQ(g_localLines[0].level, 5);
    EXPECT_EQ(g_localLines[0].text, L"Need to Start LogServer for turn on debug log.");
    EXPECT_TRUE(first.HintWritten());
    EXPECT_FALSE(first.SendLogWrite(1, 2, 3, 4, L"f", 5, L"two"));
    EXPECT_FALSE(first.SendToLogServer(L"three"));
    EXPECT_EQ(g_localLines.size(), 1u);  // later misses are silent

    CLogClient second(CLogClient::kWriteWhole, &tracetest::RecordLocal, name.c_str());
    EXPECT_FALSE(second.SendLogWrite(1, 2, 3, 4, L"f", 5, L"one"));
    EXPECT_EQ(g_localLines.size(), 2u);  // its own once-only flag
}

// A process that created the log pipe first, accepts and never reads: each line
// is given up within the client's bound, and the channel, suspended, no longer
// holds the other tracing threads.
TEST(LogClientFailures, ASquatterThatNeverReadsHoldsNoThread) {
    testsupport::Watchdog watchdog(60000, "log squatter");
    const std::wstring name = UniquePipeName(L"squat");
    const std::wstring path = L"\\\\.\\pipe\\" + name;
    OS::UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = connected.get();
    OS::UniqueFile squatter(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, 0,
                                             nullptr));
    ASSERT_TRUE(squatter.valid());
    ConnectNamedPipe(squatter.get(), &ov);
    const DWORD kBoundMs = 500;
    g_localLines.clear();
    CLogClient client(CLogClient::kWritePieces, &tracetest::RecordLocal, name.c_str(), kBoundMs);
    TraceChannel channel(TraceChannel::kFramework, client);
    std::atomic<DWORD> longest{0};
    testsupport::RunTogether(4, [&] {
        for (int i = 0; i < 3; ++i) {
            const DWORD start = GetTickCount();
            channel.Write(68, L"f", 1, L"line %d", i);
            const DWORD took = GetTickCount() - start;
            for (DWORD seen = longest; took > seen && !longest.compare_exchange_weak(seen, took);) {
            }
        }
    });
    EXPECT_LT(longest.load(), testsupport::Slack(kBoundMs + 1500));
    EXPECT_FALSE(channel.IsSending());
    ASSERT_EQ(g_localLines.size(), 1u);
    EXPECT_EQ(g_localLines[0].text, L"pipe send failed!. err=121");
    CancelIoEx(squatter.get(), nullptr);
}

TEST(LogClientFailures, OtherOpenErrorsAreReportedEveryTime) {
    const std::wstring tooLong(300, L'n');  // does not fit the pipe path
    g_localLines.clear();
    CLogClient client(CLogClient::kWritePieces, &tracetest::RecordLocal, tooLong.c_str());
    EXPECT_FALSE(client.SendLogWrite(1, 2, 3, 4, L"f", 5, L"x"));
    EXPECT_FALSE(client.SendLogWrite(1, 2, 3, 4, L"f", 5, L"x"));
    ASSERT_EQ(g_localLines.size(), 2u);
    for (const auto& line : g_localLines) {
        EXPECT_EQ(line.level, 5);
        EXPECT_EQ(line.text, L"Initial pipe client failed! err=206");
    }
    EXPECT_FALSE(client.HintWritten());
}

// --- the library's own channels, as the log server receives their lines ------

class ChannelsToLogServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Start()) << peer.LastError();
        AgentChannel::Channel().ResetGate();
        FrameworkChannel::Channel().ResetGate();
    }
    testsupport::Watchdog watchdog{60000, "channels test"};
    LogServerPeer peer;  // the real "Log_ServerNamePipe"
};

TEST_F(ChannelsToLogServer, AgentLineArrivesWithAllEightFields) {
    TraceInit(L"PLS_WDX");
    AgentChannel::TraceWrite(0x44, L".\\WDXPatchAgent", 146, L"[StartAction] %s", L">>>");
    ASSERT_TRUE(peer.WaitForRecords(1, kWaitMs));
    const LogRecord r = peer.Records()[0];
    ASSERT_EQ(r.fields.size(), 8u);
    EXPECT_EQ(r.Field(0), L"LOG_WRITE");
    const long long now = static_cast<long long>(time(nullptr));
    EXPECT_LE(std::llabs(std::stoll(r.Field(1)) - now), 5);
    EXPECT_EQ(r.Field(2), std::to_wstring(GetCurrentProcessId()));
    EXPECT_EQ(r.Field(3), std::to_wstring(GetCurrentThreadId()));
    EXPECT_EQ(r.Field(4), L"68");
    EXPECT_EQ(r.Field(5), L".\\WDXPatchAgent");
    EXPECT_EQ(r.Field(6), L"146");
    EXPECT_EQ(r.Field(7), L"[PLS_WDX][" + OwnExeName() + L"][StartAction] >>>");
    EXPECT_TRUE(r.endsWithNul);
    EXPECT_EQ(r.messageBytes.size(), 1u);
}

TEST_F(ChannelsToLogServer, FrameworkLineArrivesInPieces) {
    const std::wstring text(600, L'p');
    FrameworkChannel::TraceWrite(5, L".\\pipe_Util", 9, L"[CPipeClient] %s", text.c_str());
    ASSERT_TRUE(peer.WaitForRecords(1, kWaitMs));
    const LogRecord r = peer.Records()[0];
    EXPECT_EQ(r.Field(7), L"[][" + OwnExeName() + L":1.0.0.1045][CPipeClient] " + text);
    EXPECT_GE(r.messageBytes.size(), 2u);
}

TEST_F(ChannelsToLogServer, ChannelsAreSuspendedIndependently) {
    peer.Stop();
    FrameworkChannel::TraceWrite(5, L"f", 1, L"lost");  // fails: framework channel suspended
    EXPECT_FALSE(FrameworkChannel::Channel().IsSending());
    ASSERT_TRUE(peer.Start());
    FrameworkChannel::TraceWrite(5, L"f", 2, L"dropped");
    AgentChannel::TraceWrite(5, L"f", 3, L"agent still sends");
    ASSERT_TRUE(peer.WaitForRecords(1, kWaitMs));
    Sleep(200);
    const auto records = peer.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Field(6), L"3");
}

}  // namespace
