// The waits and pipes against misbehaving peers on real pipes: a squatter that
// creates a reply pipe's name first, services whose single instance stays busy,
// and the flags that keep a service from acting as the installer. Wine accepts
// FILE_FLAG_FIRST_PIPE_INSTANCE and a client's security quality of service but
// acts on neither, so the flags themselves are also read off the calls.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cwchar>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AoSMgrPeer.h"
#include "CmdHandlerPeer.h"
#include "ImportHook.h"
#include "LogServerPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "TraceCapture.h"
#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "diag/logcl_Command.h"
#include "foundation/win_Handle.h"
#include "ipc/pipe_Server.h"
#include "ipc/pipe_Util.h"
#include "ipc/util_ipc_msg_buffer.h"

namespace {

const DWORD kWaitMs = testsupport::Slack(10000);
const DWORD kShortBoundMs = 1000;
const wchar_t kServerSource[] = L".\\pipe_Server";
const wchar_t kUtilSource[] = L".\\pipe_Util";
const wchar_t kRegister[] = L"aosmgr_AOS_PLUGIN_REGISTER";

std::wstring UniquePipeName(const wchar_t* what) {
    static int serial = 0;
    return std::wstring(L"WdxSecTest_") + what + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(++serial);
}

std::wstring PathOf(const std::wstring& name) { return L"\\\\.\\pipe\\" + name; }

using testsupport::ShortBound;

// A message pipe whose only instance a client of the test holds: every other
// client finds it busy for as long as the object lives.
class BusyPipe {
public:
    explicit BusyPipe(const std::wstring& name)
        : m_server(CreateNamedPipeW(PathOf(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024, 1000,
                                    nullptr)),
          m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!m_server || !m_event) return;
        m_ov.hEvent = m_event.get();
        ConnectNamedPipe(m_server.get(), &m_ov);
        m_holder.reset(CreateFileW(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD ignored = 0;
        GetOverlappedResult(m_server.get(), &m_ov, &ignored, TRUE);
    }
    ~BusyPipe() {
        m_holder.reset();
        if (m_server) CancelIoEx(m_server.get(), nullptr);
    }
    BusyPipe(const BusyPipe&) = delete;
    BusyPipe& operator=(const BusyPipe&) = delete;
    bool Held() const { return m_server.valid() && m_holder.valid(); }

private:
    OS::UniqueFile m_server;
    OS::UniqueHandle m_event;
    OVERLAPPED m_ov = {};
    OS::UniqueFile m_holder;
};

// A pipe of the given name that someone else created first.
OS::UniqueFile Squat(const std::wstring& name, DWORD maxInstances) {
    return OS::UniqueFile(CreateNamedPipeW(PathOf(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, maxInstances, 1024,
                                           1024, 1000, nullptr));
}

void PutRequest(CIPCMsgBuffer& request) {
    request.PutInt32(1115).PutText(L"KPSE_ADDON_WDX");
    for (int i = 0; i < 5; ++i) request.PutText(L"");
    request.PutInt32(0).PutInt32(0).PutInt32(0);
}

// --- the bound on waits for a busy service ---------------------------------------

TEST(WaitBound, SixtySecondsForTheOpenAndTheReplyAlike) {
    // The reply waits with the process's bound (ReplyThatNeverComesEndsWithTheProcesssBound).
    EXPECT_EQ(60000u, PipeWaitBoundMs());
    {
        ShortBound bound(5);
        EXPECT_EQ(5u, PipeWaitBoundMs());
    }
    EXPECT_EQ(60000u, PipeWaitBoundMs());
}

TEST(WaitBound, OpenOfAPipeThatStaysBusyEndsWithTheBound) {
    testsupport::Watchdog watchdog(60000, "busy open");
    const std::wstring name = UniquePipeName(L"busy");
    BusyPipe busy(name);
    ASSERT_TRUE(busy.Held());
    ShortBound bound(kShortBoundMs);
    CPipeClient client;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(client.Open(name.c_str()));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), client.LastError());
    EXPECT_FALSE(client.IsOpen());
    EXPECT_GE(elapsed, kShortBoundMs - 100);
    EXPECT_LT(elapsed, testsupport::Slack(kShortBoundMs + 3000));
}

TEST(WaitBound, CommandToAManagerThatStaysBusyFailsWithTheUsualLine) {
    testsupport::Watchdog watchdog(60000, "busy manager");
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    BusyPipe busy(kAoSMgrPipeName);
    ASSERT_TRUE(busy.Held());
    ShortBound bound(kShortBoundMs);
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest(request);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    EXPECT_LT(GetTickCount() - start, testsupport::Slack(kShortBoundMs + 3000));
    EXPECT_EQ(0u, reply.BytesUsed());
    EXPECT_TRUE(trace.WaitForLine(kUtilSource, 5, L"[PipeSendAndRecvW] Initial pipe client failed! err=121", kWaitMs));
}

using testsupport::g_localLines;
using testsupport::RecordLocal;

TEST(WaitBound, TraceLineToALogServerThatStaysBusyFailsWithTheUsualLine) {
    testsupport::Watchdog watchdog(60000, "busy log server");
    const std::wstring name = UniquePipeName(L"busylog");
    BusyPipe busy(name);
    ASSERT_TRUE(busy.Held());
    ShortBound bound(kShortBoundMs);
    g_localLines.clear();
    CLogClient client(CLogClient::kWriteWhole, &RecordLocal, name.c_str());
    EXPECT_FALSE(client.SendLogWrite(1300000000, 4, 8, 68, L"AoSSrvSDK", 146, L"x"));
    ASSERT_EQ(1u, g_localLines.size());
    EXPECT_EQ(5, g_localLines[0].level);
    EXPECT_EQ(L"Initial pipe client failed! err=121", g_localLines[0].text);
}

// The reply bound that AoSSrv_Register uses by default is the process's bound.
TEST(WaitBound, ReplyThatNeverComesEndsWithTheProcesssBound) {
    testsupport::Watchdog watchdog(60000, "silent manager");
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    manager.QueueBehaviour(peers::AoSBehaviour::Of(peers::AoSBehaviour::kSilence));
    ShortBound bound(kShortBoundMs);
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest(request);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, kShortBoundMs - 100);
    EXPECT_LT(elapsed, testsupport::Slack(kShortBoundMs + 3000));
    ASSERT_TRUE(manager.WaitForCommands(1, kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(
        L".\\util_plm_cmdHandler", 5,
        L"no reply on pipe " + manager.Commands()[0].replyPipe + L" within " + std::to_wstring(kShortBoundMs) + L" ms",
        kWaitMs));
}

// --- reply pipes that someone else holds ------------------------------------------

TEST(ReplyPipeSquatter, ANameTakenFirstIsRefusedAndNamedInTheTrace) {
    testsupport::Watchdog watchdog(60000, "reply pipe squatter");
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    for (DWORD maxInstances : {static_cast<DWORD>(PIPE_UNLIMITED_INSTANCES), 2ul, 1ul}) {
        SCOPED_TRACE(maxInstances);
        const std::wstring name = UniquePipeName(L"squat");
        OS::UniqueFile squatter = Squat(name, maxInstances);
        ASSERT_TRUE(squatter.valid());
        CPipeServer reply;
        const DWORD start = GetTickCount();
        EXPECT_FALSE(reply.InitialForReply(name.c_str()));
        EXPECT_GE(GetTickCount() - start, 450u) << "an earlier pipe of the name may still be closing";
        EXPECT_TRUE(trace.WaitForLine(kServerSource, 5,
                                      L"[CPipeServer::Initial] Pipe " + PathOf(name) + L" belongs to another server!",
                                      kWaitMs));
        CPipeServer general;
        EXPECT_FALSE(general.Initial(name.c_str(), nullptr));
    }
}

TEST(ReplyPipeSquatter, ASecondServerCannotJoinAReplyPipe) {
    const std::wstring name = UniquePipeName(L"join");
    CPipeServer reply;
    ASSERT_TRUE(reply.InitialForReply(name.c_str()));
    OS::UniqueFile intruder = Squat(name, PIPE_UNLIMITED_INSTANCES);
    EXPECT_FALSE(intruder.valid());
}

// The reply pipe's name is predictable (command, tick count, thread id): a
// squatter that created the names of the coming seconds gets neither the
// manager's reply nor a chance to forge one; the registration fails instead.
TEST(ReplyPipeSquatter, RegistrationRefusesAReplyPipeItDidNotCreate) {
    testsupport::Watchdog watchdog(60000, "predicted reply pipe");
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    // The names of a window of ticks that opens after they are all taken, and the
    // registration once it has opened: a machine that makes pipes slowly (an
    // emulated one) only needs a longer lead.
    const DWORD windowMs = 2000;
    std::vector<OS::UniqueFile> squatters;
    bool inTime = false;
    DWORD first = 0;
    for (DWORD leadMs : {1000ul, 9000ul, 27000ul}) {
        squatters.clear();
        first = GetTickCount() + leadMs;
        for (DWORD tick = first; tick != first + windowMs; ++tick) {
            squatters.push_back(
                Squat(MakeReplyPipeName(kRegister, tick, GetCurrentThreadId()), PIPE_UNLIMITED_INSTANCES));
            ASSERT_TRUE(squatters.back().valid());
        }
        inTime = static_cast<LONG>(GetTickCount() - first) < 0;
        if (inTime) break;
    }
    ASSERT_TRUE(inTime) << "the names were not taken in time";
    while (static_cast<LONG>(GetTickCount() - first) < 0) Sleep(1);
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest(request);
    EXPECT_FALSE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    testsupport::TraceLine line;
    const std::wstring head = L"[CPipeServer::Initial] Pipe " + PathOf(kRegister);
    ASSERT_TRUE(trace.WaitForLine(kServerSource, 5, head, kWaitMs, &line));
    const std::wstring tail = std::to_wstring(GetCurrentThreadId()) + L" belongs to another server! err=";
    EXPECT_NE(std::wstring::npos, line.text.find(tail)) << line.text;
    EXPECT_TRUE(trace.WaitForLine(kUtilSource, 5, L"[PipeSendAndRecvW] Initial pipe server failed!", kWaitMs));
    Sleep(200);
    EXPECT_EQ(0u, manager.CommandCount()) << "nothing may be sent without a reply pipe of our own";
}

// --- the flags of the calls --------------------------------------------------------

struct PipeCall {
    bool open = false;  // CreateFileW, else CreateNamedPipeW
    std::wstring path;
    DWORD flags = 0;     // CreateFileW: flags and attributes
    DWORD openMode = 0;  // CreateNamedPipeW
    DWORD pipeMode = 0;  // CreateNamedPipeW
    DWORD maxInstances = 0;
    bool nullDacl = false;
    HANDLE handle = nullptr;  // what CreateNamedPipeW returned
};

std::mutex g_callsLock;
std::vector<PipeCall> g_calls;

std::vector<PipeCall> CallsFor(bool open, const std::wstring& path) {
    std::lock_guard<std::mutex> guard(g_callsLock);
    std::vector<PipeCall> found;
    for (const PipeCall& call : g_calls)
        if (call.open == open && _wcsicmp(call.path.c_str(), path.c_str()) == 0) found.push_back(call);
    return found;
}

typedef HANDLE(WINAPI* CreateFileWFn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
typedef HANDLE(WINAPI* CreateNamedPipeWFn)(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, LPSECURITY_ATTRIBUTES);

CreateFileWFn RealCreateFileW() {
    return reinterpret_cast<CreateFileWFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFileW")));
}
CreateNamedPipeWFn RealCreateNamedPipeW() {
    return reinterpret_cast<CreateNamedPipeWFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateNamedPipeW")));
}

HANDLE WINAPI RecordingCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                                   DWORD flags, HANDLE templateFile) {
    if (path != nullptr) {
        PipeCall call;
        call.open = true;
        call.path = path;
        call.flags = flags;
        std::lock_guard<std::mutex> guard(g_callsLock);
        g_calls.push_back(call);
    }
    return RealCreateFileW()(path, access, share, sa, disposition, flags, templateFile);
}

HANDLE WINAPI RecordingCreateNamedPipeW(LPCWSTR path, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                                        DWORD outBytes, DWORD inBytes, DWORD timeoutMs, LPSECURITY_ATTRIBUTES sa) {
    if (path != nullptr) {
        PipeCall call;
        call.path = path;
        call.openMode = openMode;
        call.pipeMode = pipeMode;
        call.maxInstances = maxInstances;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        call.nullDacl = sa != nullptr && sa->lpSecurityDescriptor != nullptr &&
                        GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &dacl, &defaulted) && present &&
                        dacl == nullptr;
        call.handle = RealCreateNamedPipeW()(path, openMode, pipeMode, maxInstances, outBytes, inBytes, timeoutMs, sa);
        std::lock_guard<std::mutex> guard(g_callsLock);
        g_calls.push_back(call);
        return call.handle;
    }
    return RealCreateNamedPipeW()(path, openMode, pipeMode, maxInstances, outBytes, inBytes, timeoutMs, sa);
}

class PipeCalls : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> guard(g_callsLock);
        g_calls.clear();
    }
    testsupport::ImportHook openHook{nullptr, "kernel32.dll", "CreateFileW",
                                     reinterpret_cast<void*>(&RecordingCreateFileW)};
    testsupport::ImportHook createHook{nullptr, "kernel32.dll", "CreateNamedPipeW",
                                       reinterpret_cast<void*>(&RecordingCreateNamedPipeW)};
    testsupport::Watchdog watchdog{60000, "pipe call flags"};
};

const DWORD kQosBits = SECURITY_SQOS_PRESENT | SECURITY_CONTEXT_TRACKING | SECURITY_EFFECTIVE_ONLY | (3 << 16);

// The log server, the add-on manager and the server's command handler: a
// process posing as one of them may identify the installer, not act as it.
TEST_F(PipeCalls, ClientOpensOfTheServicesPipesAskForIdentificationOnly) {
    ASSERT_TRUE(openHook.Installed());
    const std::wstring logName = UniquePipeName(L"log");
    peers::LogServerPeer log(logName);
    ASSERT_TRUE(log.Start()) << log.LastError();
    CLogClient logClient(CLogClient::kWritePieces, &RecordLocal, logName.c_str());
    EXPECT_TRUE(logClient.SendLogWrite(1300000000, 4, 8, 68, L"f", 1, L"x"));

    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest(request);
    EXPECT_TRUE(PLMCmdMgr_SendCommand(request, kRegister, reply));

    peers::CmdHandlerPeer handler;
    ASSERT_TRUE(handler.Start()) << handler.LastError();
    const std::wstring replyPipe = MakeReplyPipeName(L"PLS_GET_INFO");
    const std::wstring text = L"PLS_GET_INFO\t" + replyPipe;
    std::wstring answer;
    EXPECT_TRUE(cmdao_PipeSendAndRecv(text.c_str(), -1, replyPipe.c_str(), answer));

    for (const std::wstring& service : {PathOf(logName), PathOf(kAoSMgrPipeName), PathOf(kServerCmdPipeName)}) {
        SCOPED_TRACE(std::string(service.begin(), service.end()));
        const std::vector<PipeCall> calls = CallsFor(true, service);
        ASSERT_FALSE(calls.empty());
        for (const PipeCall& call : calls)
            EXPECT_EQ(static_cast<DWORD>(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION), call.flags & kQosBits);
    }
}

// Reply pipes: the first instance of their name, no remote clients, one
// instance, and the null DACL that lets a service of another account answer.
TEST_F(PipeCalls, ReplyPipesAreFirstInstancesThatRefuseRemoteClients) {
    ASSERT_TRUE(createHook.Installed());
    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    CIPCMsgBuffer request(1024), reply(1024);
    PutRequest(request);
    ASSERT_TRUE(PLMCmdMgr_SendCommand(request, kRegister, reply));
    ASSERT_TRUE(manager.WaitForCommands(1, kWaitMs));
    const std::wstring replyPipe = manager.Commands()[0].replyPipe;

    const std::wstring many = UniquePipeName(L"many");
    CPipeServer server;
    ASSERT_TRUE(server.Initial(3, many.c_str(), nullptr));

    const std::vector<PipeCall> replyCalls = CallsFor(false, PathOf(replyPipe));
    ASSERT_EQ(1u, replyCalls.size());
    const std::vector<PipeCall> manyCalls = CallsFor(false, PathOf(many));
    ASSERT_EQ(3u, manyCalls.size());
    std::vector<PipeCall> all = replyCalls;
    all.insert(all.end(), manyCalls.begin(), manyCalls.end());
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        const bool first = i < 2;  // the reply pipe's instance, the first of the three
        EXPECT_EQ(first ? static_cast<DWORD>(FILE_FLAG_FIRST_PIPE_INSTANCE) : 0u,
                  all[i].openMode & FILE_FLAG_FIRST_PIPE_INSTANCE);
        EXPECT_EQ(static_cast<DWORD>(PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED),
                  all[i].openMode & ~static_cast<DWORD>(FILE_FLAG_FIRST_PIPE_INSTANCE));
        const DWORD expectedMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
        EXPECT_EQ(expectedMode, all[i].pipeMode);
        EXPECT_TRUE(all[i].nullDacl);
    }
    EXPECT_EQ(1u, replyCalls[0].maxInstances);

    // A reply pipe whose connect fails (cancelled here) fails the command: it is not an empty answer.
    testsupport::TraceCapture trace;
    ASSERT_TRUE(trace.Started());
    peers::CmdHandlerPeer handler;
    handler.SetDefaultReply(peers::CmdReply::Of(peers::CmdReply::kSilence));
    ASSERT_TRUE(handler.Start()) << handler.LastError();
    const std::wstring silent = MakeReplyPipeName(L"cmd_SILENT");
    std::thread cancel([&] {
        for (int i = 0; i < 500 && CallsFor(false, PathOf(silent)).empty(); ++i) Sleep(10);
        Sleep(300);  // the connect is under way
        for (const PipeCall& call : CallsFor(false, PathOf(silent))) CancelIoEx(call.handle, nullptr);
    });
    std::wstring answer = L"stale";
    EXPECT_FALSE(cmdao_PipeSendAndRecv((L"cmd_SILENT\t" + silent).c_str(), -1, silent.c_str(), answer, kWaitMs));
    cancel.join();
    EXPECT_TRUE(answer.empty());
    EXPECT_TRUE(trace.WaitForLine(kServerSource, 5, L"[CPipeServer::FetchCmd] Reading the reply on " + PathOf(silent),
                                  kWaitMs));
}

// What a service gets when it impersonates the installer over its pipe. Where
// the platform honours the client's quality of service, at most an
// identification token; Wine impersonates fully whatever the client asked,
// or now and then refuses it, which the test sees from a plain client that asked
// for identification only.
int ImpersonationLevelSeenBy(const std::wstring& name, const std::function<bool()>& connectAndWrite) {
    OS::UniqueFile server(CreateNamedPipeW(PathOf(name).c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1024, 1024, 1000,
                                           nullptr));
    if (!server) return -2;
    int level = -1;  // impersonation refused
    std::thread service([&] {
        if (!ConnectNamedPipe(server.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
        BYTE buffer[64];
        DWORD cb = 0;
        ReadFile(server.get(), buffer, sizeof buffer, &cb, nullptr);
        if (!ImpersonateNamedPipeClient(server.get())) return;
        HANDLE token = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            SECURITY_IMPERSONATION_LEVEL value = SecurityAnonymous;
            DWORD size = 0;
            if (GetTokenInformation(token, TokenImpersonationLevel, &value, sizeof value, &size))
                level = static_cast<int>(value);
            CloseHandle(token);
        }
        RevertToSelf();
    });
    const bool sent = connectAndWrite();
    service.join();
    return sent ? level : -3;
}

TEST(ServiceImpersonation, AServicePosingAsTheLogServerCannotActAsTheInstaller) {
    testsupport::Watchdog watchdog(60000, "impersonation");
    const std::wstring name = UniquePipeName(L"imp");
    const int product = ImpersonationLevelSeenBy(name, [&] {
        CPipeClient client;
        unsigned cb = 4;
        return client.Open(name.c_str()) && client.Write("ping", cb);
    });
    const int reference = ImpersonationLevelSeenBy(name, [&] {
        OS::UniqueFile client(RealCreateFileW()(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        DWORD cb = 0;
        return client.valid() && WriteFile(client.get(), "ping", 4, &cb, nullptr);
    });
    ASSERT_GE(product, -1) << "the service did not hear the client";
    ASSERT_GE(reference, -1);
    if (reference != static_cast<int>(SecurityIdentification))
        GTEST_SKIP() << "this platform does not hand a service an identification token for a client that "
                     << "asked for one (level " << reference << "); PipeCalls checks the flags instead";
    EXPECT_LE(product, static_cast<int>(SecurityIdentification));
}

}  // namespace
