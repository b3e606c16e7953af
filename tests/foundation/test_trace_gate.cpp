// The channel's gate after a failed send: which calls reach the log client.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "TraceTestSupport.h"

using tracetest::FakeSink;
using tracetest::g_fakeTick;

namespace {

class TraceGate : public ::testing::Test {
protected:
    FakeSink sink;
    TraceChannel channel{TraceChannel::kFramework, sink, &tracetest::FakeTick};

    // Writes count lines at the current fake tick; returns how many reached the sink.
    size_t WriteLines(int count) {
        const size_t before = sink.sent.size();
        for (int i = 0; i < count; ++i) channel.Write(5, L".\\gate", i, L"line");
        return sink.sent.size() - before;
    }
};

TEST_F(TraceGate, FailedLineSuspendsThenTenAreDroppedWithoutAttempt) {
    g_fakeTick = 100000;
    sink.result = false;
    EXPECT_EQ(WriteLines(1), 1u);  // line 1 is attempted and fails
    EXPECT_FALSE(channel.IsSending());
    g_fakeTick += 60000;            // even long after the failure...
    EXPECT_EQ(WriteLines(10), 0u);  // ...lines 2 to 11 are never attempted
    EXPECT_EQ(channel.SkipCount(), 10);
    EXPECT_EQ(WriteLines(1), 1u);  // line 12 checks the clock: retried
}

TEST_F(TraceGate, TwelfthLineIsRetriedOnlyAfterMoreThan5000Ms) {
    struct Case {
        DWORD elapsed;
        size_t attempts;
    } cases[] = {{0, 0}, {4999, 0}, {5000, 0}, {5001, 1}, {0x7FFFFFFF, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.elapsed);
        channel.ResetGate();
        sink.result = false;
        g_fakeTick = 1000;
        WriteLines(1);
        WriteLines(10);
        g_fakeTick = 1000 + c.elapsed;
        EXPECT_EQ(WriteLines(1), c.attempts);
        EXPECT_EQ(channel.SkipCount(), 0);  // the counter restarts either way
    }
}

TEST_F(TraceGate, DroppedRetryRestartsTheCount) {
    g_fakeTick = 50;
    sink.result = false;
    WriteLines(1);
    WriteLines(10);
    g_fakeTick = 50 + 5000;
    EXPECT_EQ(WriteLines(1), 0u);  // line 12: too early, dropped
    g_fakeTick = 50 + 9000;
    EXPECT_EQ(WriteLines(10), 0u);  // lines 13 to 22: counted again, no clock check
    EXPECT_EQ(WriteLines(1), 1u);   // line 23: late enough, retried
}

TEST_F(TraceGate, WrappedTickCountStillMeasuresTheDelay) {
    sink.result = false;
    g_fakeTick = 0xFFFFF000;
    WriteLines(1);
    WriteLines(10);
    g_fakeTick = 0x00000100;  // 0x1100 = 4352 ms later, across the wrap
    EXPECT_EQ(WriteLines(1), 0u);
    WriteLines(10);
    g_fakeTick = 0x00000500;  // 0x1500 = 5376 ms later
    EXPECT_EQ(WriteLines(1), 1u);
}

TEST_F(TraceGate, SuccessfulRetryResumesAndFailedRetrySuspendsWithNewTick) {
    sink.result = false;
    g_fakeTick = 10;
    WriteLines(1);
    WriteLines(10);
    g_fakeTick = 10 + 6000;
    EXPECT_EQ(WriteLines(1), 1u);  // retried and failed again: new failure tick 6010
    WriteLines(10);
    g_fakeTick = 10 + 6000 + 5000;
    EXPECT_EQ(WriteLines(1), 0u);  // measured from the new failure, not the first
    WriteLines(10);
    g_fakeTick = 10 + 6000 + 5001;
    sink.result = true;
    EXPECT_EQ(WriteLines(1), 1u);
    EXPECT_TRUE(channel.IsSending());
    EXPECT_EQ(WriteLines(25), 25u);  // every line is sent again
}

// A log client that runs out of memory while building the command.
class ThrowingSink : public ITraceRecordSink {
public:
    int calls = 0;
    bool SendLogWrite(int, unsigned, unsigned, int, const wchar_t*, int, const wchar_t*) override {
        ++calls;
        throw std::bad_alloc();
    }
};

TEST(TraceChannelFailure, SinkExceptionNeverReachesTheCallerAndCountsAsFailedSend) {
    ThrowingSink sink;
    TraceChannel channel(TraceChannel::kFramework, sink, &tracetest::FakeTick);
    g_fakeTick = 700;
    bool threw = false;
    SetLastError(0x1234);
    try {
        channel.Write(5, L".\\gate", 1, L"line %d", 1);
    } catch (...) {
        threw = true;
    }
    const DWORD error = GetLastError();
    EXPECT_FALSE(threw);
    EXPECT_EQ(error, 0x1234u);
    EXPECT_EQ(sink.calls, 1);
    EXPECT_FALSE(channel.IsSending());
    for (int i = 0; i < 10; ++i) EXPECT_NO_THROW(channel.Write(5, L".\\gate", 2, L"dropped"));
    EXPECT_EQ(sink.calls, 1);  // suspended like any other failed send
}

}  // namespace

namespace {

// A sink whose delivery traces again: through its own channel and through the
// library's framework channel (as code called from a real sink would).
class TracingSink : public ITraceRecordSink {
public:
    TraceChannel* channel = nullptr;
    int calls = 0;
    bool SendLogWrite(int, unsigned, unsigned, int, const wchar_t*, int, const wchar_t*) override {
        if (++calls > 5) return true;  // without the guard: stop the recursion here
        channel->Write(5, L".\\gate", 2, L"nested");
        FrameworkChannel::TraceWrite(5, L".\\gate", 3, L"nested in the other channel");
        return true;
    }
};

TEST(TraceChannelReentry, LinesTracedWhileWritingAreDroppedAndNothingIsSuspended) {
    TracingSink sink;
    TraceChannel channel(TraceChannel::kFramework, sink, &tracetest::FakeTick);
    sink.channel = &channel;
    channel.Write(5, L".\\gate", 1, L"outer");
    EXPECT_EQ(sink.calls, 1);
    EXPECT_TRUE(channel.IsSending());
    channel.Write(5, L".\\gate", 1, L"next");  // the guard was left
    EXPECT_EQ(sink.calls, 2);
}

// Lines of many threads are written one at a time, and none is lost.
TEST(TraceChannelReentry, ConcurrentLinesAreAllDeliveredOneAtATime) {
    struct CountingSink : ITraceRecordSink {
        std::atomic<int> inside{0}, most{0}, calls{0};
        bool SendLogWrite(int, unsigned, unsigned, int, const wchar_t*, int, const wchar_t*) override {
            const int now = ++inside;
            if (now > most) most = now;
            Sleep(0);
            ++calls;
            --inside;
            return true;
        }
    } sink;
    TraceChannel channel(TraceChannel::kFramework, sink, &tracetest::FakeTick);
    testsupport::RunTogether(8, [&] {
        for (int i = 0; i < 200; ++i) channel.Write(5, L".\\gate", i, L"line %d", i);
    });
    EXPECT_EQ(sink.calls, 1600);
    EXPECT_EQ(sink.most, 1);
}

}  // namespace
