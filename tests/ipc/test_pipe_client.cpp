// The pipe client against real pipe servers in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "LogServerPeer.h"
#include "TestSupport.h"
#include "foundation/win_Handle.h"
#include "ipc/pipe_Util.h"

namespace {

const DWORD kWaitMs = testsupport::Slack(10000);

std::wstring UniquePipeName(const wchar_t* what) {
    return std::wstring(L"WdxPipeTest_") + what + L"_" + std::to_wstring(GetCurrentProcessId());
}

std::wstring PathOf(const std::wstring& name) { return L"\\\\.\\pipe\\" + name; }

std::vector<BYTE> Pattern(size_t cb) {
    std::vector<BYTE> bytes(cb);
    for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>(i * 7 + 1);
    return bytes;
}

std::wstring AsText(const std::vector<BYTE>& bytes) {
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

TEST(PipeClientOpen, MissingPipeFailsWithFileNotFound) {
    CPipeClient client;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(client.Open(UniquePipeName(L"missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(client.IsOpen());
}

TEST(PipeClientOpen, NameLengthTable) {
    // "\\.\pipe\" takes 9 of the 259 characters a path may have.
    struct Case {
        size_t cchName;
        DWORD error;
    } cases[] = {{250, ERROR_FILE_NOT_FOUND}, {251, ERROR_FILENAME_EXCED_RANGE}, {1000, ERROR_FILENAME_EXCED_RANGE}};
    for (const Case& c : cases) {
        CPipeClient client;
        const std::wstring name(c.cchName, L'n');
        EXPECT_FALSE(client.Open(name.c_str())) << c.cchName;
        EXPECT_EQ(client.LastError(), c.error) << c.cchName;
        if (c.error == ERROR_FILE_NOT_FOUND)
            EXPECT_EQ(std::wstring(client.GetPath()), PathOf(name));
        else
            EXPECT_STREQ(client.GetPath(), L"");  // never a cut name
    }
    CPipeClient client;
    EXPECT_FALSE(client.Open(nullptr));
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PipeClientOpen, WritingWithoutAnOpenPipeFails) {
    CPipeClient client;
    unsigned cb = 4;
    EXPECT_FALSE(client.Write("abcd", cb));
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    cb = 4;
    EXPECT_FALSE(client.WriteWhole("abcd", cb));
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(PipeClientOpen, BusyPipeIsOpenedOnceAnInstanceFrees) {
    testsupport::Watchdog watchdog(60000, "busy pipe test");
    const std::wstring name = UniquePipeName(L"busy");
    OS::UniqueFile server(CreateNamedPipeW(PathOf(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024, 1000,
                                           nullptr));
    ASSERT_TRUE(server.valid());
    OS::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    ConnectNamedPipe(server.get(), &ov);

    CPipeClient first;
    ASSERT_TRUE(first.Open(name.c_str()));  // takes the only instance

    std::atomic<bool> done(false);
    bool opened = false;
    std::thread second([&] {
        CPipeClient client;
        opened = client.Open(name.c_str());
        done = true;
    });
    Sleep(700);
    EXPECT_FALSE(done) << "the second client should wait while the instance is busy";

    first.Close();
    DisconnectNamedPipe(server.get());
    ConnectNamedPipe(server.get(), &ov);  // listening again
    second.join();
    EXPECT_TRUE(opened);
    CancelIo(server.get());
}

TEST(PipeClientOpen, ByteTypePipeIsRefused) {
    const std::wstring name = UniquePipeName(L"bytes");
    OS::UniqueFile server(CreateNamedPipeW(PathOf(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1024, 1024, 1000,
                                           nullptr));
    ASSERT_TRUE(server.valid());
    OS::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    ConnectNamedPipe(server.get(), &ov);
    CPipeClient client;
    EXPECT_FALSE(client.Open(name.c_str()));  // message read mode cannot be set
    EXPECT_NE(client.LastError(), 0u);
    EXPECT_FALSE(client.IsOpen());
    CancelIo(server.get());
}

class PipeClientWrite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Start()) << peer.LastError(); }
    peers::LogRecord SendOne(bool whole, const std::vector<BYTE>& bytes, unsigned& cb) {
        CPipeClient client;
        EXPECT_TRUE(client.Open(name.c_str()));
        cb = static_cast<unsigned>(bytes.size());
        EXPECT_TRUE(whole ? client.WriteWhole(bytes.data(), cb) : client.Write(bytes.data(), cb));
        client.Close();
        EXPECT_TRUE(peer.WaitForRecords(1, kWaitMs));
        const auto records = peer.Records();
        return records.empty() ? peers::LogRecord() : records[0];
    }
    testsupport::Watchdog watchdog{60000, "pipe write test"};
    std::wstring name = UniquePipeName(L"write");
    peers::LogServerPeer peer{name};
};

TEST_F(PipeClientWrite, PiecesOfAtMost1024Bytes) {
    struct Case {
        size_t cb;
        std::vector<DWORD> messages;
    } cases[] = {
        {3000, {1024, 1024, 952}},
        {1024, {1024}},
        {1025, {1024, 1}},
        {2, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cb);
        peer.Clear();
        const std::vector<BYTE> bytes = Pattern(c.cb);
        unsigned cb = 0;
        const peers::LogRecord r = SendOne(false, bytes, cb);
        EXPECT_EQ(cb, c.cb);
        EXPECT_EQ(r.messageBytes, c.messages);
        std::wstring expected = AsText(bytes);
        if (!expected.empty() && expected.back() == L'\0') expected.pop_back();
        EXPECT_EQ(r.raw, expected);
    }
}

TEST_F(PipeClientWrite, WholeIsOneMessage) {
    const std::vector<BYTE> bytes = Pattern(3000);
    unsigned cb = 0;
    const peers::LogRecord r = SendOne(true, bytes, cb);
    EXPECT_EQ(cb, 3000u);
    ASSERT_EQ(r.messageBytes.size(), 1u);
    EXPECT_EQ(r.messageBytes[0], 3000u);
    EXPECT_EQ(r.raw, AsText(bytes));
}

}  // namespace
