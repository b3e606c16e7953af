// The installer callbacks end to end with an add-on manager peer on its real pipe.
#include <gtest/gtest.h>

#include "AoSMgrPeer.h"
#include "LogServerPeer.h"
#include "ServerFixture.h"
#include "TestSupport.h"
#include "foundation/win_Handle.h"
#include "installer/WDXPatchAgent.h"
#include "registry/util_plm_compList.h"

using testsupport::SimulatedServer;

namespace {

const wchar_t kUrl[] = L"../cgi/cgiShowAoS.exe?ID=KPSE_ADDON_WDX&URLROUTE=UI_DISPLAY_PAGE_MANAGEMENT";

class WithManager : public testing::Test {
protected:
    void SetUp() override {
        testsupport::DeleteAoSRoot();
        ASSERT_TRUE(m_manager.Start()) << m_manager.LastError();
        std::wstring dll = testsupport::ExeDir() + L"\\WDXPatchAgent.dll";
        m_dll.reset(LoadLibraryW(dll.c_str()));
        ASSERT_TRUE(m_dll.valid());
    }
    void TearDown() override {
        m_manager.Stop();
        testsupport::DeleteAoSRoot();
    }

    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_dll.get(), name)));
    }

    int InstallOneFile(SimulatedServer& server) {
        testsupport::WriteFileText(m_staging.Join(L"WDXPlugIn.dll"), "plug-in");
        if (Get<PFN_StartAction>("StartAction")() != 0) return -100;
        char narrow[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, m_staging.Join(L"WDXPlugIn.dll").c_str(), -1, narrow, MAX_PATH, nullptr,
                            nullptr);
        Get<PFN_CheckFileEx>("CheckFileEx")(narrow);
        ItemVersion from = {0x000A0005u, 1000}, to = {0x000A0006u, 1045};
        int result = Get<PFN_EndItem>("EndItem")(1, &from, &to);
        EXPECT_TRUE(testsupport::FileExists(server.AddonFolder() + L"\\WDXPlugIn.dll"));
        return result;
    }

    static std::wstring ComponentValue(const wchar_t* componentKey, const wchar_t* name) {
        std::wstring path = std::wstring(kAoSRootKeyPath) + L"\\KPSE_ADDON_WDX\\" + componentKey;
        OS::UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
            return L"<no key>";
        wchar_t data[2048] = {};
        DWORD cb = sizeof(data) - sizeof(wchar_t);
        if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &cb) != ERROR_SUCCESS)
            return L"<absent>";
        return data;
    }

    testsupport::Watchdog m_watchdog{90000, "agent manager test"};
    peers::AoSMgrPeer m_manager;
    OS::UniqueModule m_dll;
    testsupport::TempDir m_staging{L"stage"};
};

TEST_F(WithManager, InstallUnregistersCopiesAndRegisters) {
    SimulatedServer server(L"e2e", L"10_6");
    EXPECT_EQ(1, InstallOneFile(server));
    ASSERT_EQ(2u, m_manager.CommandCount());
    const auto commands = m_manager.Commands();

    const peers::AoSCommand& unregister = commands[0];
    EXPECT_EQ(L"aosmgr_AOS_PLUGIN_UNREGISTER", unregister.name);
    ASSERT_TRUE(unregister.decoded) << unregister.error;
    EXPECT_EQ(1117, unregister.message.id);
    EXPECT_EQ(L"KPSE_ADDON_WDX", unregister.message.plsId);
    EXPECT_EQ(L"", unregister.message.plsVersion);
    EXPECT_EQ(server.AddonFolder(), unregister.message.installPath);
    EXPECT_EQ(server.AddonFolder() + L"\\WDXPlugIn.dll", unregister.message.plugInPath);
    EXPECT_EQ(L"", unregister.message.uninstallPath);
    EXPECT_EQ(0, unregister.message.pageCount);

    const peers::AoSCommand& registration = commands[1];
    EXPECT_EQ(L"aosmgr_AOS_PLUGIN_REGISTER", registration.name);
    ASSERT_TRUE(registration.decoded) << registration.error;
    EXPECT_EQ(1115, registration.message.id);
    EXPECT_EQ(L"10.6.1045", registration.message.plsVersion);
    EXPECT_EQ(server.AddonFolder() + L"\\Uninstall.exe", registration.message.uninstallPath);
    EXPECT_EQ(L"", registration.message.auxText);
    EXPECT_EQ(0, registration.message.componentCount);
    EXPECT_EQ(0, registration.message.uiExtensionCount);
    ASSERT_EQ(1, registration.message.pageCount);
    ASSERT_EQ(1u, registration.message.pages.size());
    EXPECT_EQ(L"Main Page", registration.message.pages[0].name);
    EXPECT_EQ(kUrl, registration.message.pages[0].url);
    EXPECT_NE(unregister.replyPipe, registration.replyPipe);
}

TEST_F(WithManager, RefusedRegistrationFailsTheItem) {
    SimulatedServer server(L"e2e", L"10_6");
    m_manager.QueueBehaviour(peers::AoSBehaviour::Status(0));
    m_manager.QueueBehaviour(peers::AoSBehaviour::Status(5, L"duplicate"));
    EXPECT_EQ(0, InstallOneFile(server));
}

TEST_F(WithManager, TruncatedReplyIsAFailureNotSuccess) {
    SimulatedServer server(L"e2e", L"10_6");
    m_manager.QueueBehaviour(peers::AoSBehaviour::Status(0));
    m_manager.QueueBehaviour(peers::AoSBehaviour::Of(peers::AoSBehaviour::kShort));
    EXPECT_EQ(0, InstallOneFile(server));
}

TEST_F(WithManager, RefusedServerRecordsLocalizedMessage) {
    // The entry an earlier registration of this add-on package left behind.
    m_manager.SetRegisterEntries(true);
    {
        SimulatedServer current(L"e2e", L"10_6");
        m_manager.QueueBehaviour(peers::AoSBehaviour::Status(0));
        m_manager.QueueBehaviour(peers::AoSBehaviour::Status(0));
        testsupport::WriteFileText(m_staging.Join(L"x.txt"), "x");
        ASSERT_EQ(0, Get<PFN_StartAction>("StartAction")());
        ItemVersion from = {0x00010000u, 1000}, to = {0x00010000u, 1045};
        ASSERT_EQ(1, Get<PFN_EndItem>("EndItem")(1, &from, &to));
    }
    ASSERT_EQ(L"1.0.1045", ComponentValue(L"1_9_1.0.1045", L"Version"));

    SimulatedServer old(L"e2e", L"10_5");
    old.SetLanguage(L"de");
    EXPECT_EQ(1, Get<PFN_StartAction>("StartAction")());
    EXPECT_EQ(L"1", ComponentValue(L"1_9_1.0.1045", L"LastErrorOccurred"));
    EXPECT_EQ(L"1", ComponentValue(L"1_9_1.0.1045", L"LastErrorCode"));
    EXPECT_EQ(L"Dieses Tool erfordert Quillon 10.6 und höher", ComponentValue(L"1_9_1.0.1045", L"LastErrorMsg"));
}

TEST_F(WithManager, RollbackLeavesTheRegistrationAlone) {
    SimulatedServer server(L"e2e", L"10_6");
    ASSERT_EQ(0, Get<PFN_StartAction>("StartAction")());
    ItemVersion v = {0x000A0006u, 1045};
    EXPECT_EQ(1, Get<PFN_EndItem>("EndItem")(1, &v, &v));
    EXPECT_EQ(0u, m_manager.CommandCount());
    EXPECT_FALSE(testsupport::FileExists(server.AddonFolder()));
}

}  // namespace
