// The add-on manager peer's own reading of commands (the demo and the dispatch
// tests rely on it), and the component entry it creates for a registration.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AoSMgrPeer.h"
#include "TestSupport.h"
#include "aos/util_plm_cmdHandler.h"
#include "ipc/util_ipc_msg_buffer.h"

namespace {

using peers::AoSBehaviour;

std::vector<BYTE> Units(const std::wstring& text) {
    std::vector<BYTE> bytes(text.size() * 2);
    if (!bytes.empty()) std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

std::vector<BYTE> Join(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<BYTE> Le32(unsigned value) { return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}; }

TEST(AoSMgrPeerParsing, MalformedCommandsAreReported) {
    const std::vector<BYTE> payload = {1, 2, 3, 4};
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        bool parsed;
        const wchar_t* error;
    } cases[] = {
        {"complete", Join(Units(L"c\tp\t4\t"), payload), true, L""},
        {"three fields", Units(L"c\tp\t4"), false, L"fewer than four fields"},
        {"signed count", Join(Units(L"c\tp\t+4\t"), payload), false, L"byte count is not a decimal number"},
        {"count past 32 bits", Join(Units(L"c\tp\t4294967296\t"), payload), false,
         L"byte count is not a decimal number"},
        {"payload cut short", Join(Units(L"c\tp\t6\t"), payload), false, L"payload has 4 bytes, 6 declared"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peers::AoSCommand command;
        EXPECT_EQ(peers::ParseAoSCommand(c.bytes, command), c.parsed);
        EXPECT_EQ(command.error, c.error);
    }
    peers::AoSCommand extra;
    ASSERT_TRUE(peers::ParseAoSCommand(Join(Units(L"c\tp\t2\t"), payload), extra));
    EXPECT_EQ(extra.payload, std::vector<BYTE>({1, 2}));
    EXPECT_EQ(extra.extraBytes, 2u);
}

TEST(AoSMgrPeerParsing, RequestsAreReadWithinTheirBytes) {
    std::vector<BYTE> texts;
    for (int i = 0; i < 6; ++i) texts = Join(texts, Join(Le32(2), {0, 0}));
    const std::vector<BYTE> good = Join(Join(Le32(1115), texts), Join(Le32(0xFFFFFFFF), Join(Le32(0), Le32(0))));
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        bool ok;
        const wchar_t* errorStart;
    } cases[] = {
        {"negative count sends no elements", good, true, L""},
        {"cut inside the id", {0x5B, 0x04}, false, L"message id"},
        {"huge text length", Join(Le32(1115), Le32(0xFFFFFFFC)), false, L"wpszPLSId: text runs past the end"},
        {"odd text length", Join(Le32(1115), Join(Le32(3), {0, 0, 0})), false, L"wpszPLSId: odd text byte length"},
        {"count without elements", Join(Join(Le32(1115), texts), Le32(1)), false, L"wpszText1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peers::AoSRequestMessage message;
        std::wstring error;
        EXPECT_EQ(peers::DecodeAoSRequest(c.bytes.data(), c.bytes.size(), message, error), c.ok);
        EXPECT_EQ(error.compare(0, wcslen(c.errorStart), c.errorStart), 0) << peers::ToUtf8(error);
    }
}

TEST(AoSMgrPeerParsing, BehaviourTexts) {
    AoSBehaviour b;
    ASSERT_TRUE(AoSBehaviour::Parse(L"status:5:disk full", b));
    EXPECT_EQ(b.kind, AoSBehaviour::kStatus);
    EXPECT_EQ(b.status, 5);
    EXPECT_EQ(b.errorText, L"disk full");
    ASSERT_TRUE(AoSBehaviour::Parse(L"status:-3", b));
    EXPECT_EQ(b.status, -3);
    ASSERT_TRUE(AoSBehaviour::Parse(L"silence", b));
    EXPECT_EQ(b.kind, AoSBehaviour::kSilence);
    EXPECT_FALSE(AoSBehaviour::Parse(L"status:x", b));
    EXPECT_FALSE(AoSBehaviour::Parse(L"loud", b));
}

// --- the component entry of a registration ---------------------------------------

const wchar_t kAddonId[] = L"WDX_DISPATCH_PEER_TEST";

std::wstring ReadText(const std::wstring& path, const wchar_t* name) {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return L"?";
    wchar_t value[64] = {};
    DWORD cb = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &cb) != ERROR_SUCCESS ||
        type != REG_SZ)
        return L"?";
    return value;
}

bool KeyExists(const std::wstring& path) {
    OS::UniqueRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS;
}

// Removes the test add-on's key, and the AoS root when the test created it.
class AddonKeyCleanup {
public:
    AddonKeyCleanup() : m_rootExisted(KeyExists(peers::kAoSRootKey)) { Clean(); }
    ~AddonKeyCleanup() { Clean(); }

private:
    void Clean() {
        OS::UniqueRegKey root;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, peers::kAoSRootKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, root.put()) !=
            ERROR_SUCCESS)
            return;
        RegDeleteTreeW(root.get(), kAddonId);
        root.reset();
        if (!m_rootExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, peers::kAoSRootKey, KEY_WOW64_64KEY, 0);
    }
    bool m_rootExisted;
};

TEST(AoSMgrPeerRegistry, SuccessfulRegistrationCreatesTheComponentEntry) {
    testsupport::Watchdog watchdog(30000, "peer registry test");
    AddonKeyCleanup cleanup;
    peers::AoSMgrPeer manager;
    manager.SetRegisterEntries(true);
    manager.QueueBehaviour(AoSBehaviour::Status(5));  // refused: no entry
    ASSERT_TRUE(manager.Start());
    const std::wstring addonKey = std::wstring(peers::kAoSRootKey) + L"\\" + kAddonId;
    const std::wstring entry = addonKey + L"\\1_9_1.2.3";
    for (int round = 0; round < 2; ++round) {
        CIPCMsgBuffer request(1024), reply(1024);
        request.PutInt32(1115).PutText(kAddonId).PutText(L"1.2.3");
        for (int i = 0; i < 4; ++i) request.PutText(L"");
        request.PutInt32(0).PutInt32(0).PutInt32(0);
        ASSERT_TRUE(PLMCmdMgr_SendCommand(request, L"aosmgr_AOS_PLUGIN_REGISTER", reply));
        EXPECT_EQ(KeyExists(entry), round == 1);
    }
    EXPECT_EQ(ReadText(entry, L"ID"), kAddonId);
    EXPECT_EQ(ReadText(entry, L"Platform"), L"1");
    EXPECT_EQ(ReadText(entry, L"Language"), L"9");
    EXPECT_EQ(ReadText(entry, L"Version"), L"1.2.3");
}

}  // namespace
