// The reply-pipe server and PipeSendAndRecvW against real writers and targets
// in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LogServerPeer.h"
#include "PeerSupport.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "foundation/win_Handle.h"
#include "ipc/pipe_Server.h"
#include "ipc/pipe_Util.h"

namespace {

const DWORD kWaitMs = testsupport::Slack(10000);
const wchar_t kServerSource[] = L".\\pipe_Server";
const wchar_t kUtilSource[] = L".\\pipe_Util";

std::wstring UniquePipeName(const wchar_t* what) {
    return std::wstring(L"WdxReplyTest_") + what + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount());
}

std::vector<BYTE> Pattern(size_t cb) {
    std::vector<BYTE> bytes(cb);
    for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>(i * 13 + 5);
    return bytes;
}

// Connects to a reply pipe, writes the given messages and closes.
class Writer {
public:
    Writer(const std::wstring& name, std::vector<std::vector<BYTE>> messages, DWORD holdMs = 0)
        : m_thread([this, name, messages, holdMs] {
              OS::UniqueFile pipe;
              m_error = peers::OpenPipeForWriting(name, pipe);
              for (const auto& message : messages) {
                  if (m_error == 0) m_error = peers::WriteMessages(pipe.get(), message.data(), message.size(), 0);
                  if (message.empty() && m_error == 0) {
                      DWORD ignored = 0;  // a zero-length message
                      if (!WriteFile(pipe.get(), "", 0, &ignored, nullptr)) m_error = GetLastError();
                  }
              }
              if (holdMs != 0) Sleep(holdMs);
          }) {}
    ~Writer() {
        if (m_thread.joinable()) m_thread.join();
    }
    DWORD Error() {
        if (m_thread.joinable()) m_thread.join();
        return m_error;
    }

private:
    std::atomic<DWORD> m_error{0};
    std::thread m_thread;
};

struct ChunkRun {
    std::vector<unsigned> sizes;
    std::vector<BYTE> bytes;
    bool endedFalse = false;
};

ChunkRun ReadAll(CPipeServer& server, unsigned chunkBytes, size_t maxChunks = 2000) {
    ChunkRun run;
    std::vector<BYTE> chunk(chunkBytes);
    for (size_t i = 0; i < maxChunks; ++i) {
        unsigned size = chunkBytes;
        if (!server.ReadChunk(chunk.data(), size)) {
            run.endedFalse = true;
            break;
        }
        run.sizes.push_back(size);
        run.bytes.insert(run.bytes.end(), chunk.begin(), chunk.begin() + size);
    }
    return run;
}

class PipeServerTest : public ::testing::Test {
protected:
    testsupport::Watchdog watchdog{60000, "pipe server test"};
    std::wstring name = UniquePipeName(L"srv");
};

TEST_F(PipeServerTest, ChunksFollowTheWritersMessages) {
    struct Case {
        const char* what;
        std::vector<size_t> messages;
        std::vector<unsigned> chunks;
    } cases[] = {
        {"three messages", {1024, 1024, 452}, {1024, 1024, 452}},
        {"one 3000-byte message", {3000}, {1024, 1024, 952}},
        {"small messages stay apart", {10, 1, 7}, {10, 1, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPipeServer server;
        ASSERT_TRUE(server.Initial(name.c_str(), nullptr));
        std::vector<std::vector<BYTE>> messages;
        std::vector<BYTE> all;
        for (size_t cb : c.messages) {
            messages.push_back(Pattern(cb + all.size()));
            messages.back().erase(messages.back().begin(), messages.back().begin() + all.size());
            all.insert(all.end(), messages.back().begin(), messages.back().end());
        }
        Writer writer(name, messages);
        const ChunkRun run = ReadAll(server, 1024);
        EXPECT_EQ(writer.Error(), 0u);
        EXPECT_EQ(run.sizes, c.chunks);
        EXPECT_TRUE(run.endedFalse);
        EXPECT_EQ(run.bytes, all);
    }
}

TEST_F(PipeServerTest, FetchCmdCollectsTheWholeText) {
    struct Case {
        std::vector<size_t> messages;
        size_t cch;
    } cases[] = {{{1024, 1024, 452}, 1250}, {{600000}, 300000}, {{3}, 1}, {{}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cch);
        CPipeServer server;
        ASSERT_TRUE(server.Initial(name.c_str(), nullptr));
        std::vector<std::vector<BYTE>> messages;
        std::vector<BYTE> all;
        for (size_t cb : c.messages) {
            const std::vector<BYTE> bytes = Pattern(cb);
            for (size_t at = 0; at < cb; at += 1024)
                messages.emplace_back(bytes.begin() + at, bytes.begin() + std::min(cb, at + 1024));
            all.insert(all.end(), bytes.begin(), bytes.end());
        }
        if (messages.empty()) messages.emplace_back();  // connect, one empty message, close
        Writer writer(name, messages);
        std::wstring text = L"stale";
        EXPECT_TRUE(server.FetchCmd(text));
        EXPECT_EQ(writer.Error(), 0u);
        ASSERT_EQ(text.size(), c.cch);
        // An odd last byte is dropped. No data, no memcmp: its pointers must not be null.
        if (c.cch != 0) {
            EXPECT_EQ(std::memcmp(text.data(), all.data(), c.cch * 2), 0);
        }
    }
}

TEST_F(PipeServerTest, WriterThatClosesAtOnceEndsTheFirstRead) {
    CPipeServer server;
    ASSERT_TRUE(server.Initial(name.c_str(), nullptr));
    { Writer writer(name, {}); }
    BYTE buffer[16];
    std::memset(buffer, 0xBD, sizeof buffer);
    unsigned size = sizeof buffer;
    EXPECT_FALSE(server.ReadChunk(buffer, size));
    EXPECT_EQ(buffer[0], 0);  // cleared before the wait
    EXPECT_EQ(buffer[1], 0xBD);

    // The instance listens again: the next writer is heard.
    Writer second(name, {Pattern(5)});
    const ChunkRun run = ReadAll(server, 16);
    EXPECT_EQ(run.sizes, std::vector<unsigned>({5}));
    EXPECT_EQ(run.bytes, Pattern(5));
}

// A zero-length message does not end the reply; what follows it is kept.
TEST_F(PipeServerTest, ZeroLengthMessageIsAnEmptyChunk) {
    CPipeServer server;
    ASSERT_TRUE(server.Initial(name.c_str(), nullptr));
    Writer writer(name, {Pattern(4), {}, Pattern(6)});
    const ChunkRun run = ReadAll(server, 1024);
    EXPECT_EQ(run.sizes, std::vector<unsigned>({4, 0, 6}));
    EXPECT_TRUE(run.endedFalse);
}

TEST_F(PipeServerTest, InstanceCountIsClampedAndEveryInstanceIsHeard) {
    CPipeServer server;
    ASSERT_TRUE(server.Initial(300, name.c_str(), nullptr));
    EXPECT_EQ(server.InstanceCount(), 255u);
    // More than one wait can take: a writer on any instance is still read.
    Writer writer(name, {Pattern(100)});
    const ChunkRun run = ReadAll(server, 1024);
    EXPECT_EQ(run.bytes, Pattern(100));

    CPipeServer one;
    ASSERT_TRUE(one.Initial(0, UniquePipeName(L"zero").c_str(), nullptr));
    EXPECT_EQ(one.InstanceCount(), 1u);
}

TEST_F(PipeServerTest, DefaultUserObjectIsTheThreadsNamedEvent) {
    const std::wstring eventName = L"PIPE_OBJ_LOCAL_EVENT_" + std::to_wstring(GetCurrentThreadId());
    {
        CPipeServer server;
        ASSERT_TRUE(server.Initial(name.c_str(), nullptr));
        OS::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str()));
        EXPECT_TRUE(event.valid());
        EXPECT_FALSE(server.UserObjectSignalled());
    }
    OS::UniqueHandle gone(OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str()));
    EXPECT_FALSE(gone.valid());  // the server owned and closed it
}

TEST_F(PipeServerTest, SignalledUserObjectEndsReadsWithoutBytes) {
    OS::UniqueHandle cancel(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    CPipeServer server;
    ASSERT_TRUE(server.Initial(name.c_str(), cancel.get()));
    BYTE buffer[8];
    std::memset(buffer, 0xBD, sizeof buffer);
    unsigned size = sizeof buffer;
    EXPECT_TRUE(server.ReadChunk(buffer, size));
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(server.UserObjectSignalled());
    std::wstring text = L"stale";
    EXPECT_FALSE(server.FetchCmd(text));
    EXPECT_TRUE(text.empty());
}

TEST_F(PipeServerTest, BoundEndsAReadOfAWriterThatNeverWrites) {
    CPipeServer server;
    ASSERT_TRUE(server.InitialForReply(name.c_str()));
    Writer staller(name, {}, 1500);  // connects, writes nothing, holds the pipe
    server.StartBound(500);
    const DWORD start = GetTickCount();
    std::wstring text;
    EXPECT_FALSE(server.FetchCmd(text));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 400u);
    EXPECT_LT(elapsed, testsupport::Slack(2500));
}

TEST_F(PipeServerTest, InitialFailuresAreTraced) {
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    // "\\.\pipe\" takes 9 of the 255 characters.
    CPipeServer fits;
    EXPECT_TRUE(fits.Initial(std::wstring(246, L'f').c_str(), nullptr));
    CPipeServer tooLong;
    EXPECT_FALSE(tooLong.Initial(std::wstring(247, L'f').c_str(), nullptr));
    EXPECT_STREQ(tooLong.GetPath(), L"");
    EXPECT_TRUE(
        trace.WaitForLine(kServerSource, 5, L"[CPipeServer::Initial] Pipe name does not fit! err=206", kWaitMs));
}

TEST_F(PipeServerTest, BusyNameIsRetriedFiveTimes) {
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    const std::wstring path = L"\\\\.\\pipe\\" + name;
    auto holdName = [&] {
        return OS::UniqueFile(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024,
                                               1000, nullptr));
    };
    {
        OS::UniqueFile holder = holdName();
        ASSERT_TRUE(holder.valid());
        CPipeServer server;
        const DWORD start = GetTickCount();
        EXPECT_FALSE(server.Initial(name.c_str(), nullptr));
        EXPECT_GE(GetTickCount() - start, 450u);
        EXPECT_TRUE(
            trace.WaitForLine(kServerSource, 5, L"[CPipeServer::Initial] Retry 5 times. Still Failed!", kWaitMs));
    }
    OS::UniqueFile holder = holdName();
    std::thread release([&] {
        Sleep(250);
        holder.reset();
    });
    CPipeServer server;
    EXPECT_TRUE(server.Initial(name.c_str(), nullptr));
    release.join();
}

// --- PipeSendAndRecvW ------------------------------------------------------------

TEST_F(PipeServerTest, SendAndRecvWritesPiecesAndLeavesTheReplyServerUp) {
    const std::wstring target = UniquePipeName(L"target");
    peers::LogServerPeer targetPeer(target);
    ASSERT_TRUE(targetPeer.Start());
    const std::vector<BYTE> data = Pattern(2500);
    CPipeServer server;
    ASSERT_TRUE(PipeSendAndRecvW(data.data(), 2500, name.c_str(), target.c_str(), server, nullptr));
    ASSERT_TRUE(targetPeer.WaitForRecords(1, kWaitMs));
    EXPECT_EQ(targetPeer.Records()[0].messageBytes, std::vector<DWORD>({1024, 1024, 452}));

    Writer reply(name, {Pattern(7)});
    const ChunkRun run = ReadAll(server, 1024);
    EXPECT_EQ(run.bytes, Pattern(7));
}

TEST_F(PipeServerTest, SendAndRecvFailuresAreTraced) {
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    {
        CPipeServer server;
        SetLastError(0);
        EXPECT_FALSE(PipeSendAndRecvW("ab", 2, name.c_str(), UniquePipeName(L"missing").c_str(), server, nullptr));
        EXPECT_TRUE(
            trace.WaitForLine(kUtilSource, 5, L"[PipeSendAndRecvW] Initial pipe client failed! err=2", kWaitMs));
    }
    {
        CPipeServer server;
        EXPECT_FALSE(PipeSendAndRecvW("ab", 2, std::wstring(300, L'r').c_str(), name.c_str(), server, nullptr));
        EXPECT_TRUE(trace.WaitForLine(kUtilSource, 5, L"[PipeSendAndRecvW] Initial pipe server failed!", kWaitMs));
    }
    {
        CPipeServer server;
        EXPECT_FALSE(PipeSendAndRecvW("ab", 2, name.c_str(), std::wstring(300, L't').c_str(), server, nullptr));
        EXPECT_TRUE(
            trace.WaitForLine(kUtilSource, 5, L"[PipeSendAndRecvW] Initial pipe client failed! err=206", kWaitMs));
    }
}

TEST_F(PipeServerTest, SendAndRecvWaitsForABusyTarget) {
    const std::wstring target = UniquePipeName(L"busytarget");
    const std::wstring path = L"\\\\.\\pipe\\" + target;
    OS::UniqueFile targetPipe(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024,
                                               1000, nullptr));
    ASSERT_TRUE(targetPipe.valid());
    std::thread target1([&] {
        ConnectNamedPipe(targetPipe.get(), nullptr);  // first client takes the only instance
        Sleep(1000);
        BYTE sink[64];
        DWORD cb = 0;
        while (ReadFile(targetPipe.get(), sink, sizeof sink, &cb, nullptr) || GetLastError() == ERROR_MORE_DATA) {
        }
        DisconnectNamedPipe(targetPipe.get());
        ConnectNamedPipe(targetPipe.get(), nullptr);  // the waiting sender
        while (ReadFile(targetPipe.get(), sink, sizeof sink, &cb, nullptr) || GetLastError() == ERROR_MORE_DATA) {
        }
    });
    OS::UniqueFile first;
    ASSERT_EQ(peers::OpenPipeForWriting(target, first), 0u);
    std::thread closeFirst([&] {
        Sleep(1200);
        first.reset();
    });
    CPipeServer server;
    const DWORD start = GetTickCount();
    EXPECT_TRUE(PipeSendAndRecvW("abcd", 4, name.c_str(), target.c_str(), server, nullptr));
    EXPECT_GE(GetTickCount() - start, 900u);
    closeFirst.join();
    target1.join();
}

// A local process that guessed the reply pipe's name and connected before the
// command was written whole cannot be answering it: it is dropped, and the
// service's reply is read. Both kinds of reply server (an event per instance,
// or the pipe itself waited on).
TEST_F(PipeServerTest, SendAndRecvDropsAWriterThatConnectedBeforeTheCommand) {
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    for (bool forReply : {false, true}) {
        SCOPED_TRACE(forReply ? "reply server" : "server with events");
        const std::wstring replyName = name + (forReply ? L"_r" : L"_e");
        const std::wstring target = UniquePipeName(forReply ? L"earlytarget_r" : L"earlytarget_e");
        OS::UniqueFile targetPipe(CreateNamedPipeW((L"\\\\.\\pipe\\" + target).c_str(), PIPE_ACCESS_INBOUND,
                                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024,
                                                   1000, nullptr));
        ASSERT_TRUE(targetPipe.valid());
        std::thread service([&] {
            BYTE sink[64];
            DWORD cb = 0;
            for (int client = 0; client < 2; ++client) {  // the holder, then the sender
                ConnectNamedPipe(targetPipe.get(), nullptr);
                while (ReadFile(targetPipe.get(), sink, sizeof sink, &cb, nullptr) ||
                       GetLastError() == ERROR_MORE_DATA) {
                }
                DisconnectNamedPipe(targetPipe.get());
            }
            Writer reply(replyName, {Pattern(6)});  // the service answers from this process
        });
        OS::UniqueFile holder;  // keeps the target busy: the command waits
        ASSERT_EQ(peers::OpenPipeForWriting(target, holder), 0u);
        // Sends and reads on one thread: a thread's pending connect ends with it.
        std::atomic<bool> sent{false};
        std::vector<BYTE> replyBytes;
        std::thread sender([&] {
            CPipeServer server;
            sent = forReply ? PipeSendAndRecvReplyW("abcd", 4, replyName.c_str(), target.c_str(), server)
                            : PipeSendAndRecvW("abcd", 4, replyName.c_str(), target.c_str(), server, nullptr);
            server.StartBound(kWaitMs);
            if (sent) replyBytes = ReadAll(server, 1024).bytes;
        });
        for (int i = 0; i < 500 && !WaitNamedPipeW((L"\\\\.\\pipe\\" + replyName).c_str(), 1); ++i) Sleep(10);
        EXPECT_EQ(peers::RunForger(replyName, L"forged"), 0u);  // connects and writes, then exits
        holder.reset();
        sender.join();
        EXPECT_TRUE(sent);
        EXPECT_EQ(replyBytes, Pattern(6));
        service.join();
        EXPECT_TRUE(
            trace.WaitForLine(kServerSource, 5, L"[CPipeServer::ExpectWriter] Dropped writer process ", kWaitMs));
        trace.Clear();
    }
}

}  // namespace
