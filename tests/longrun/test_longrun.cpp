// Long runs: a thousand registrations, trace lines and installer runs, after
// which the process holds no more handles and no more private memory than it
// did after the first fifty, give or take a small constant. A leak of one
// handle or a few hundred bytes per call shows as hundreds of handles or
// hundreds of kilobytes here.
#include <gtest/gtest.h>
#include <windows.h>

#include <psapi.h>  // after windows.h

#include <cstdio>
#include <functional>
#include <string>

#include "AoSMgrPeer.h"
#include "LogServerPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "aos/AoSSrvSDK.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"
#include "installer/WDXPatchAgent.h"
#include "ipc/pipe_Util.h"
#include "registry/util_plm_compList.h"

using peers::AoSBehaviour;

namespace {

const int kIterations = 1000;
const int kSettleIterations = 50;
const DWORD kHandleSlack = 16;
const SIZE_T kPrivateSlackBytes = 512 * 1024;
const DWORD kTimeoutBoundMs = 40;
const int kRunsPerLoad = 5;

// Handles of this process. GetProcessHandleCount where the platform counts them
// (Wine reports 0); otherwise the open handles are found one by one, up to a
// long run of free handle values past the last open one.
DWORD HandleCount(bool* counted = nullptr) {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        if (counted) *counted = true;
        return count;
    }
    if (counted) *counted = false;
    count = 0;
    DWORD freeRun = 0;
    for (ULONG_PTR value = 4; freeRun < 4096; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            freeRun = 0;
        } else {
            ++freeRun;
        }
    }
    return count;
}

// Private bytes of this process: the commit charge where the platform reports
// it (Wine reports 0); otherwise the committed private regions of the address space.
SIZE_T PrivateBytes(bool* counted = nullptr) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage != 0) {
        if (counted) *counted = true;
        return counters.PrivateUsage;
    }
    if (counted) *counted = false;
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const BYTE* address = nullptr; VirtualQuery(address, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

struct Usage {
    DWORD handles;
    SIZE_T privateBytes;
};

Usage Measure() { return Usage{HandleCount(), PrivateBytes()}; }

// Runs iteration(i) kIterations times; the usage after the last stays within the
// slack of the usage after the first kSettleIterations.
void ExpectNoGrowth(const char* what, const std::function<void(int)>& iteration) {
    Usage settled = {};
    for (int i = 0; i < kIterations; ++i) {
        iteration(i);
        if (::testing::Test::HasFatalFailure()) return;
        if (i + 1 == kSettleIterations) settled = Measure();
    }
    const Usage end = Measure();
    bool handlesCounted = false, privateCounted = false;
    HandleCount(&handlesCounted);
    PrivateBytes(&privateCounted);
    std::printf("%s: handles %lu -> %lu (%s), private bytes %lu KB -> %lu KB (%s)\n", what,
                static_cast<unsigned long>(settled.handles), static_cast<unsigned long>(end.handles),
                handlesCounted ? "GetProcessHandleCount" : "open handle values",
                static_cast<unsigned long>(settled.privateBytes / 1024),
                static_cast<unsigned long>(end.privateBytes / 1024),
                privateCounted ? "commit charge" : "committed private regions");
    std::fflush(stdout);
    EXPECT_GT(settled.handles, 0u);
    EXPECT_LE(end.handles, settled.handles + kHandleSlack) << what;
    EXPECT_GT(settled.privateBytes, 0u);
    EXPECT_LE(end.privateBytes, settled.privateBytes + kPrivateSlackBytes) << what;
}

using testsupport::ShortBound;

// Registrations and unregistrations whose replies succeed, fail, come cut
// short after the reply id, or never come (the bound shortened to 40 ms for
// those only, so that a slow machine does not turn late replies into time-outs).
TEST(LongRun, RegistrationRoundTripsLeakNothing) {
    testsupport::Watchdog watchdog(110000, "registration long run");
    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    AoSUIPage page;
    const AoSData record = peers::SampleRegistration(page, L"../cgi/cgiShowAoS.exe?ID=KPSE_ADDON_WDX");
    const struct {
        AoSBehaviour behaviour;
        int expected;
    } kinds[] = {
        {AoSBehaviour::Status(0), 0},
        {AoSBehaviour::Status(5, L"refused by the manager"), 5},
        {AoSBehaviour::Of(AoSBehaviour::kShort), 1},
        {AoSBehaviour::Of(AoSBehaviour::kSilence), 1},
    };
    ExpectNoGrowth("registrations", [&](int i) {
        const auto& kind = kinds[i % 4];
        manager.QueueBehaviour(kind.behaviour);
        const bool registration = (i / 4) % 2 == 0;
        const bool silent = kind.behaviour.kind == AoSBehaviour::kSilence;
        ShortBound bound(silent ? kTimeoutBoundMs : 0);
        const int result = registration ? AoSSrv_Register(&record) : AoSSrv_Unregister(&record);
        ASSERT_EQ(kind.expected, result) << "iteration " << i << ": " << kind.behaviour.Describe();
        ASSERT_TRUE(manager.WaitForCommands(1, 10000)) << "iteration " << i;
        manager.Clear();  // the peer's records must not count as growth
    });
}

// Trace lines on both channels while the log server runs and stops in turns of
// ten lines; every line is a real attempt (the channels' gates are reopened).
TEST(LongRun, TraceLinesWithTheLogServerComingAndGoingLeakNothing) {
    testsupport::Watchdog watchdog(110000, "trace long run");
    peers::LogServerPeer logServer;
    size_t received = 0;
    ExpectNoGrowth("trace lines", [&](int i) {
        const bool running = (i / 10) % 2 == 0;
        if (i % 10 == 0) {
            if (running) {
                ASSERT_TRUE(logServer.Start()) << logServer.LastError();
            } else {
                ASSERT_TRUE(logServer.WaitForRecords(10, 10000)) << "iteration " << i;
                received += logServer.RecordCount();
                logServer.Stop();
                logServer.Clear();
            }
        }
        FrameworkChannel::Channel().ResetGate();
        AgentChannel::Channel().ResetGate();
        if (i % 2 == 0)
            FrameworkChannel::TraceWrite(68, L".\\longrun", i, L"[LongRun] framework line %d of %d", i, kIterations);
        else
            AgentChannel::TraceWrite(8, L".\\longrun", i, L"[LongRun] agent line %d of %d", i, kIterations);
    });
    logServer.Stop();
    EXPECT_EQ(static_cast<size_t>(kIterations / 2), received);
}

// Installer runs through the DLL's exports against the manager peer, installs
// and rollbacks in turn, each handing over one file. The library keeps every
// file it was handed until it is unloaded (and copies them all at each
// install), so each load serves five runs; the two hundred unloads show that
// an unload gives everything back.
TEST(LongRun, InstallerRunsLeakNothing) {
    testsupport::Watchdog watchdog(110000, "installer long run");
    testsupport::DeleteAoSRoot();
    peers::AoSMgrPeer manager;
    ASSERT_TRUE(manager.Start()) << manager.LastError();
    testsupport::SimulatedServer server(L"longrun", L"10_6");
    testsupport::TempDir staging(L"longrun_stage");
    const wchar_t* const files[] = {L"WDXPlugIn.dll", L"Uninstall.exe"};
    std::string paths[2];
    for (int f = 0; f < 2; ++f) {
        testsupport::WriteFileText(staging.Join(files[f]), "WDX package file");
        char narrow[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, staging.Join(files[f]).c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
        paths[f] = narrow;
    }
    const std::wstring dllPath = testsupport::ExeDir() + L"\\WDXPatchAgent.dll";
    OS::UniqueModule dll;
    ExpectNoGrowth("installer runs", [&](int i) {
        if (i % kRunsPerLoad == 0) {
            dll.reset();
            dll.reset(LoadLibraryW(dllPath.c_str()));
        }
        ASSERT_TRUE(dll.valid()) << GetLastError();
        auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll.get(), name)); };
        auto startAction = reinterpret_cast<PFN_StartAction>(get("StartAction"));
        auto startItem = reinterpret_cast<PFN_StartItem>(get("StartItem"));
        auto checkFileEx = reinterpret_cast<PFN_CheckFileEx>(get("CheckFileEx"));
        auto endItem = reinterpret_cast<PFN_EndItem>(get("EndItem"));
        auto isRollbackEx = reinterpret_cast<PFN_IsRollbackEx>(get("IsRollbackEx"));
        auto endAction = reinterpret_cast<PFN_EndAction>(get("EndAction"));
        ASSERT_TRUE(startAction && startItem && checkFileEx && endItem && isRollbackEx && endAction);

        const bool install = i % 2 == 0;
        const ItemVersion older = {0x000A0005u, 1000}, newer = {0x000A0006u, 1045};
        const ItemVersion& from = install ? older : newer;
        const ItemVersion& to = install ? newer : older;
        ASSERT_EQ(0, startAction()) << "iteration " << i;
        EXPECT_EQ(1, startItem("WDX_10.6.1045.zip", 1, 1, 0, &from, &to));
        EXPECT_EQ(1, checkFileEx(paths[(i / kRunsPerLoad) % 2].c_str()));
        EXPECT_EQ(1, isRollbackEx());
        ASSERT_EQ(1, endItem(1, &from, &to)) << "iteration " << i;
        EXPECT_EQ(0, endAction());
        const bool placed = testsupport::FileExists(server.AddonFolder() + L"\\" + files[(i / kRunsPerLoad) % 2]);
        ASSERT_EQ(install, placed) << "iteration " << i;
        ASSERT_EQ(install ? 2u : 0u, manager.CommandCount()) << "iteration " << i;
        manager.Clear();
    });
    manager.Stop();
    testsupport::DeleteAoSRoot();
}

}  // namespace
