// What the log server receives while the installer drives the DLL.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "LogServerPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "foundation/win_Handle.h"
#include "installer/WDXPatchAgent.h"

using testsupport::SimulatedServer;

namespace {

class AgentTrace : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_logServer.Start()) << m_logServer.LastError();
        std::wstring dll = testsupport::ExeDir() + L"\\WDXPatchAgent.dll";
        m_dll.reset(LoadLibraryW(dll.c_str()));
        ASSERT_TRUE(m_dll.valid());
    }

    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_dll.get(), name)));
    }

    // Agent lines as received, without the "[PLS_WDX][test_agent.exe]" prefix.
    std::vector<std::wstring> AgentTexts() {
        std::vector<std::wstring> texts;
        const std::wstring prefix = L"[PLS_WDX][test_agent.exe]";
        for (const peers::LogRecord& r : m_logServer.Records()) {
            if (r.Field(5) != L".\\WDXPatchAgent") continue;
            EXPECT_EQ(0u, r.Field(7).find(prefix)) << r.raw;
            texts.push_back(r.Field(4) + L"|" + r.Field(7).substr(prefix.size()));
        }
        return texts;
    }

    // The log server serves several pipe instances at once, so records may be
    // stored in another order than they were sent, and the last ones may still be
    // on their way: wait a bounded time for every wanted line, in any order.
    void ExpectAll(const std::vector<std::wstring>& wanted) {
        std::vector<std::wstring> texts;
        for (int attempt = 0; attempt < 250; ++attempt) {
            texts = AgentTexts();
            if (std::all_of(wanted.begin(), wanted.end(), [&](const std::wstring& line) {
                    return std::find(texts.begin(), texts.end(), line) != texts.end();
                }))
                return;
            Sleep(20);
        }
        for (const std::wstring& line : wanted)
            EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), line))
                << "missing: " << testing::PrintToString(line);
    }

    testsupport::Watchdog m_watchdog{60000, "agent trace test"};
    peers::LogServerPeer m_logServer;
    OS::UniqueModule m_dll;
};

TEST_F(AgentTrace, RefusedServerLines) {
    SimulatedServer server(L"trace", L"10_5");
    server.SetLanguage(L"ko");
    EXPECT_EQ(1, Get<PFN_StartAction>("StartAction")());
    ExpectAll({
        L"8|[StartAction] >>>",
        L"8|[ChkKPSEVer] KpsServicePath: " + server.InstallFolder() + L"Web\\Service\\KpsService.exe",
        L"5|[StartAction] Not support this KPSE version.",
        L"8|[LoadResString] " + server.InstallFolder() + L"kpsscan.ini",
        L"8|[LoadResString] Language_Code=ko",
    });
}

TEST_F(AgentTrace, InstallLinesWithBackupFallback) {
    SimulatedServer server(L"trace", L"10_6");
    testsupport::TempDir staging(L"stage");
    const std::wstring source = staging.Join(L"WDXPlugIn.dll");
    testsupport::WriteFileText(source, "plug-in");
    ASSERT_EQ(0, Get<PFN_StartAction>("StartAction")());
    const std::wstring target = server.AddonFolder() + L"\\WDXPlugIn.dll";
    testsupport::WriteFileText(target, "old");

    char narrow[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, source.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
    ASSERT_EQ(1, Get<PFN_CheckFileEx>("CheckFileEx")(narrow));
    ItemVersion from = {0x000A0005u, 1000}, to = {0x000A0006u, 1045};
    Get<PFN_StartItem>("StartItem")("item.zip", 3, 4, 0, &from, &to);
    {
        OS::UniqueFile lock(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.valid());
        Get<PFN_EndItem>("EndItem")(7, &from, &to);
    }
    ExpectAll({
        L"8|[StartAction] PkgDestPath: " + server.AddonFolder(),
        L"8|[CheckFileEx] The file copy to " + source,
        L"8|[EndItem] This Item update is 7",
        L"8|[StartItem] The version from 655365 build=1000 to 655366 build=1045",
        L"8|[EndItem] The version from 655365 build=1000 to 655366 build=1045",
        L"8|[EndItem] Install...",
        L"5|[Unregister] AoSSrv_Unregister failed. err = 1",
        L"5|[EndItem] CopyFile \"" + source + L"\" -> \"" + target + L"\" failed. err = 32",
        L"5|[EndItem] MoveFile \"" + target + L"\" -> \"" + target + L".bak\"",
    });
    std::set<std::wstring> versionLines;  // each carries its caller's line
    for (const peers::LogRecord& r : m_logServer.Records())
        if (r.Field(7).find(L"Item] The version from") != std::wstring::npos) versionLines.insert(r.Field(6));
    EXPECT_EQ(2u, versionLines.size());
}

// The item callback only reports what it is given; the rollback question and
// the end of the action only mark their call. None of them needs StartAction.
TEST_F(AgentTrace, ItemRollbackAndEndLines) {
    ItemVersion from = {0x000A0005u, 1000}, to = {0x000A0006u, 1045};
    Get<PFN_StartItem>("StartItem")("item.zip", 3, 4, 0x1Fu, &from, &to);
    Get<PFN_IsRollbackEx>("IsRollbackEx")();
    Get<PFN_EndAction>("EndAction")();
    ExpectAll({
        L"8|[StartItem] The Zip file name is item.zip",
        L"8|[StartItem] Class of this item is 3",
        L"8|[StartItem] Type of this item is 4",
        L"8|[StartItem] Option of this item is 0x1f",
        L"8|[StartItem] The version from 655365 build=1000 to 655366 build=1045",
        L"8|[IsRollbackEx] >>>",
        L"8|[EndAction] >>>",
    });
}

}  // namespace
