#include <gtest/gtest.h>

#include <winternl.h>

#include <string>
#include <vector>

#include "LogServerPeer.h"
#include "RegTestKeys.h"
#include "TestSupport.h"
#include "foundation/trace_Trace.h"
#include "registry/util_plm_compList.h"

namespace {

const wchar_t kTestAoS[] = L"Software\\WDXTest\\AoS";
const wchar_t kWdx[] = L"KPSE_ADDON_WDX";

void AddComponent(const regtest::OwnedKey& aos, const std::wstring& addon, const std::wstring& key, const wchar_t* id,
                  const wchar_t* version, const wchar_t* platform = L"1", const wchar_t* language = L"9") {
    const std::wstring path = addon + L"\\" + key;
    aos.Sub(path);
    if (id) aos.SetText(path, L"ID", id);
    if (platform) aos.SetText(path, L"Platform", platform);
    if (language) aos.SetText(path, L"Language", language);
    if (version) aos.SetText(path, L"Version", version);
}

std::wstring Text(CAoSComponent* component, const wchar_t* name) {
    CVar value;
    if (!component || !component->GetVariantByName(name, &value)) return L"(missing)";
    return value.GetText();
}

// A registry link to a key that does not exist: it is listed, but cannot be opened.
class BrokenLink {
public:
    BrokenLink(HKEY parent, const wchar_t* name) {
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_CREATE_LINK,
                                                 KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, m_link.put(), nullptr));
        const std::wstring target = L"\\Registry\\Machine\\Software\\WDXTest\\Nowhere";
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(m_link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                                reinterpret_cast<const BYTE*>(target.c_str()),
                                                static_cast<DWORD>(target.size() * sizeof(wchar_t))));
    }
    // Links are removed through their own handle; deleting by name would follow them.
    ~BrokenLink() {
        typedef LONG(NTAPI * DeleteKeyFn)(HANDLE);
        auto deleteKey = reinterpret_cast<DeleteKeyFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        if (deleteKey && m_link) deleteKey(m_link.get());
    }

private:
    OS::UniqueRegKey m_link;
};

class ComponentList : public ::testing::Test {
protected:
    ComponentList() : aos(HKEY_CURRENT_USER, kTestAoS) {}
    OS::CRegKey& Root() {
        EXPECT_EQ(ERROR_SUCCESS, rootKey.Open(HKEY_CURRENT_USER, kTestAoS));
        return rootKey;
    }
    regtest::OwnedKey aos;
    OS::CRegKey rootKey;
};

TEST_F(ComponentList, FindsByCaseInsensitiveIdAndVersion) {
    AddComponent(aos, kWdx, L"1_9_1.0.1000", kWdx, L"1.0.1000");
    CAoSComponentList list(Root());
    ASSERT_EQ(1u, list.Count());
    EXPECT_EQ(list.At(0), list.GetTargetVersion(L"kpse_addon_wdx", L"1.0.1000"));
    EXPECT_EQ(list.At(0), list.GetTargetVersion(kWdx, L" 1.00.1000.7 "));
    EXPECT_EQ(nullptr, list.GetTargetVersion(kWdx, L"1.0.1001"));
    EXPECT_EQ(nullptr, list.GetTargetVersion(nullptr, L"1.0.1000"));
    EXPECT_EQ(nullptr, list.GetTargetVersion(L"KPSE_ADDON_WD", L"1.0.1000"));
    EXPECT_EQ(L"9", Text(list.At(0), L"Language"));
}

TEST_F(ComponentList, FirstMatchWinsAndMissingIdNeverMatches) {
    AddComponent(aos, L"A_NOID", L"1_9_1.0.1000", nullptr, L"1.0.1000");
    AddComponent(aos, kWdx, L"1_9_1.0.1000", kWdx, L"1.0.1000");
    AddComponent(aos, kWdx, L"1_9_1.0.1000.5", kWdx, L"1.0.1000.5");
    AddComponent(aos, kWdx, L"1_9_empty", kWdx, L"");
    aos.Sub(L"Z_EMPTY\\nothing");  // a component key without values is an empty component
    CAoSComponentList list(Root());
    ASSERT_EQ(5u, list.Count());
    EXPECT_EQ(0u, list.At(4)->FieldCount());
    EXPECT_EQ(list.At(1), list.GetTargetVersion(kWdx, L"1.0.1000.9"));
    EXPECT_EQ(list.At(3), list.GetTargetVersion(kWdx, nullptr));  // version 0, build 0
    EXPECT_EQ(nullptr, list.GetTargetVersion(L"", L"1.0.1000"));
}

TEST_F(ComponentList, DwordIdReadsAsNumberAndMatchesItsText) {
    aos.Sub(L"five\\1_9_2.0");
    aos.SetDword(L"five\\1_9_2.0", L"ID", 5);
    aos.SetText(L"five\\1_9_2.0", L"Version", L"2.0");
    CAoSComponentList list(Root());
    ASSERT_EQ(1u, list.Count());
    CVar id;
    ASSERT_TRUE(list.At(0)->GetVariantByName(L"ID", &id));
    EXPECT_EQ(VT_I4, id.Type());
    EXPECT_EQ(list.At(0), list.GetTargetVersion(L"5", L"2.0"));
}

TEST_F(ComponentList, ReadReplacesTheContents) {
    AddComponent(aos, kWdx, L"1_9_1.0", kWdx, L"1.0");
    CAoSComponentList list(Root());
    EXPECT_EQ(1u, list.Count());
    AddComponent(aos, kWdx, L"1_9_2.0", kWdx, L"2.0");
    list.Read(rootKey);
    EXPECT_EQ(2u, list.Count());
    regtest::DeleteTree(HKEY_CURRENT_USER, std::wstring(kTestAoS) + L"\\" + kWdx, 0);
    list.Read(rootKey);
    EXPECT_EQ(0u, list.Count());
}

TEST_F(ComponentList, UnopenableKeysAreSkipped) {
    AddComponent(aos, L"AAA", L"1_9_1.0", L"AAA", L"1.0");
    AddComponent(aos, L"ZZZ", L"1_9_1.0", L"ZZZ", L"1.0");
    BrokenLink brokenAddon(aos.Get(), L"MMM");
    OS::UniqueRegKey zzz = aos.Sub(L"ZZZ");
    BrokenLink brokenComponent(zzz.get(), L"0_broken");
    CAoSComponentList list(Root());
    ASSERT_EQ(2u, list.Count());
    EXPECT_EQ(L"AAA", Text(list.At(0), L"ID"));
    EXPECT_EQ(L"ZZZ", Text(list.At(1), L"ID"));
}

TEST(ComponentLock, LockFunctionResults) {
    EXPECT_EQ(3, CreateLock(nullptr));
    EXPECT_EQ(3, DeleteLock(nullptr));
    CRITICAL_SECTION* cs = nullptr;
    EXPECT_EQ(1, DeleteLock(&cs));
    EXPECT_EQ(1, EnterLock(nullptr));
    EXPECT_EQ(1, LeaveLock(nullptr));
    ASSERT_EQ(0, CreateLock(&cs));
    ASSERT_NE(nullptr, cs);
    EXPECT_EQ(0, EnterLock(cs));
    EXPECT_EQ(0, EnterLock(cs));  // recursive on one thread
    EXPECT_EQ(0, LeaveLock(cs));
    EXPECT_EQ(0, LeaveLock(cs));
    EXPECT_EQ(0, DeleteLock(&cs));
    EXPECT_EQ(nullptr, cs);
}

// ---- saving: these tests use the server's fixed AoS root ---------------------

const std::wstring kRoot = kAoSRootKeyPath;
const std::wstring kWdxComponent = kRoot + L"\\KPSE_ADDON_WDX\\1_9_1.0.1000";

class SaveToRegistry : public ::testing::Test {
protected:
    // The server's root in the 64-bit view, with one component of the add-on.
    void MakeServerRoot(REGSAM view) {
        root.reset(new regtest::OwnedKey(HKEY_LOCAL_MACHINE, kRoot, view));
        AddComponent(*root, kWdx, L"1_9_1.0.1000", kWdx, L"1.0.1000");
        root->SetDword(L"KPSE_ADDON_WDX\\1_9_1.0.1000", L"Count", 3);
    }
    CAoSComponent* FindWdx(std::unique_ptr<CAoSComponentList>& list) {
        EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kRoot.c_str()));
        list.reset(new CAoSComponentList(key));
        return list->GetTargetVersion(kWdx, L"1.0.1000");
    }
    DWORD TypeOf(const std::wstring& path, REGSAM view, const wchar_t* name) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        return regtest::ReadValue(HKEY_LOCAL_MACHINE, path, view, name, &type, &data) ? type : REG_NONE;
    }

    regtest::AoSRootBackup backup;
    std::unique_ptr<regtest::OwnedKey> root;
    OS::CRegKey key;
};

TEST_F(SaveToRegistry, OnlyModifiedWritesOnlyFlaggedFields) {
    MakeServerRoot(KEY_WOW64_64KEY);
    std::unique_ptr<CAoSComponentList> list;
    CAoSComponent* wdx = FindWdx(list);
    ASSERT_NE(nullptr, wdx);
    wdx->SetVariantByName(L"LastErrorMsg", CVar(L"too old"), true);
    wdx->SetVariantByName(L"LastErrorCode", CVar(1L), true);
    wdx->SetVariantByName(L"Count", CVar(L"99"), false);  // changed in memory, not flagged
    wdx->SaveToRegistry(true);
    EXPECT_EQ(L"too old", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"LastErrorMsg"));
    EXPECT_EQ(L"1", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"LastErrorCode"));
    EXPECT_EQ(L"1.0.1000", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"Version"));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), TypeOf(kWdxComponent, KEY_WOW64_64KEY, L"Count"));

    wdx->SaveToRegistry(true);  // flags are not cleared by saving: same result again
    EXPECT_EQ(L"too old", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"LastErrorMsg"));
}

TEST_F(SaveToRegistry, AllFieldsRewritesNumbersAsText) {
    MakeServerRoot(KEY_WOW64_64KEY);
    std::unique_ptr<CAoSComponentList> list;
    CAoSComponent* wdx = FindWdx(list);
    ASSERT_NE(nullptr, wdx);
    wdx->SaveToRegistry(false);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), TypeOf(kWdxComponent, KEY_WOW64_64KEY, L"Count"));
    EXPECT_EQ(L"3", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"Count"));
    EXPECT_EQ(L"1.0.1000", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"Version"));
}

TEST_F(SaveToRegistry, KeyNameComesFromDecimalPlatformAndLanguage) {
    MakeServerRoot(KEY_WOW64_64KEY);
    CAoSComponent component;
    component.SetVariantByName(L"ID", CVar(kWdx), true);
    component.SetVariantByName(L"Platform", CVar(L"x1"), true);
    component.SetVariantByName(L"Language", CVar(L" -4z"), true);
    component.SetVariantByName(L"Version", CVar(L"2.0"), true);
    component.SaveToRegistry(false);
    const std::wstring path = kRoot + L"\\KPSE_ADDON_WDX\\0_-4_2.0";
    EXPECT_EQ(L"x1", regtest::ReadText(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, L"Platform"));
}

TEST_F(SaveToRegistry, MissingIdentityFieldWritesNothing) {
    MakeServerRoot(KEY_WOW64_64KEY);
    const wchar_t* const fields[] = {L"ID", L"Platform", L"Language", L"Version"};
    for (const wchar_t* missing : fields) {
        CAoSComponent component;
        component.SetVariantByName(L"ID", CVar(L"OTHER"), true);
        component.SetVariantByName(L"Platform", CVar(L"1"), true);
        component.SetVariantByName(L"Language", CVar(L"9"), true);
        component.SetVariantByName(L"Version", CVar(L"1.0"), true);
        component.RemoveField(missing);
        component.SaveToRegistry(false);
        EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, kRoot + L"\\OTHER", KEY_WOW64_64KEY)) << missing;
    }
}

// Reading finds the root in the 64-bit view first; saving must land there too,
// not in the process's default view.
TEST_F(SaveToRegistry, SavesIntoTheViewTheRootIsReadFrom) {
    regtest::OwnedKey root32(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_32KEY);
    AddComponent(root32, kWdx, L"1_9_1.0.1000", kWdx, L"1.0.1000");
    MakeServerRoot(KEY_WOW64_64KEY);
    OS::CRegKey probe;
    REGSAM view = 0;
    ASSERT_EQ(ERROR_SUCCESS, compList_OpenAoSRootForSave(probe, &view));
    EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), view);

    std::unique_ptr<CAoSComponentList> list;
    CAoSComponent* wdx = FindWdx(list);
    ASSERT_NE(nullptr, wdx);
    wdx->SetVariantByName(L"LastErrorMsg", CVar(L"64"), true);
    wdx->SaveToRegistry(true);
    EXPECT_EQ(L"64", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_64KEY, L"LastErrorMsg"));
    EXPECT_EQ(L"1.0.1000", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_32KEY, L"Version"));
    EXPECT_EQ(L"", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, KEY_WOW64_32KEY, L"LastErrorMsg"));
}

TEST_F(SaveToRegistry, RootOnlyInThe32BitViewOrNowhere) {
    regtest::OwnedKey root32(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_32KEY);
    OS::CRegKey probe;
    REGSAM view = KEY_WOW64_32KEY;
    ASSERT_EQ(ERROR_SUCCESS, compList_OpenAoSRootForSave(probe, &view));
#ifdef _WIN64
    // A 64-bit process never sees the 32-bit-only root, neither reading nor saving;
    // the root is created in its default (64-bit) view.
    EXPECT_EQ(0u, view);
    EXPECT_TRUE(regtest::KeyExists(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_64KEY));
#else
    // A 32-bit process reads the 32-bit root through the default-view try and saves there.
    EXPECT_EQ(0u, view);
    EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_64KEY));
#endif
    probe.Close();
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_64KEY);
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_32KEY);

    CAoSComponent component;
    component.SetVariantByName(L"ID", CVar(kWdx), true);
    component.SetVariantByName(L"Platform", CVar(L"1"), true);
    component.SetVariantByName(L"Language", CVar(L"9"), true);
    component.SetVariantByName(L"Version", CVar(L"1.0.1000"), true);
    component.SaveToRegistry(true);
    EXPECT_EQ(L"1.0.1000", regtest::ReadText(HKEY_LOCAL_MACHINE, kWdxComponent, 0, L"Version"));
}

// ---- trace lines ----------------------------------------------------------------

struct ExpectedLine {
    int level;
    std::wstring text;
};

std::vector<ExpectedLine> CapturedLines(peers::LogServerPeer& peer, size_t count) {
    peer.WaitForRecords(count, 10000);
    std::vector<ExpectedLine> lines;
    for (const peers::LogRecord& record : peer.Records()) {
        const std::wstring file = record.Field(5);
        if (file.size() < 17 || file.compare(file.size() - 17, 17, L"util_plm_compList") != 0) continue;
        const std::wstring text = record.Field(7);
        const size_t message = text.find(L"[PLM Server]");
        lines.push_back({_wtoi(record.Field(4).c_str()), message == std::wstring::npos ? text : text.substr(message)});
    }
    return lines;
}

bool Has(const std::vector<ExpectedLine>& lines, int level, const std::wstring& text) {
    int count = 0;
    for (const ExpectedLine& line : lines)
        if (line.level == level && line.text == text) ++count;
    return count == 1;
}

TEST_F(SaveToRegistry, TraceLines) {
    peers::LogServerPeer peer;
    ASSERT_TRUE(peer.Start());
    testsupport::Watchdog watchdog(60000, "component list trace test");
    FrameworkChannel::Channel().ResetGate();

    MakeServerRoot(KEY_WOW64_64KEY);
    BrokenLink broken(root->Get(), L"BROKEN");
    std::unique_ptr<CAoSComponentList> list;
    CAoSComponent* wdx = FindWdx(list);
    ASSERT_NE(nullptr, wdx);
    EXPECT_EQ(nullptr, list->GetTargetVersion(L"nope", L"1.0"));
    wdx->SaveToRegistry(true);
    CAoSComponent noId;
    noId.SaveToRegistry(true);
    CAoSComponent longName;
    longName.SetVariantByName(L"ID", CVar(kWdx), true);
    longName.SetVariantByName(L"Platform", CVar(L"1"), true);
    longName.SetVariantByName(L"Language", CVar(L"9"), true);
    const std::wstring tooLong(300, L'v');  // beyond the registry's key-name limit
    longName.SetVariantByName(L"Version", CVar(tooLong), true);
    longName.SaveToRegistry(true);
    CAoSComponent longId;
    longId.SetVariantByName(L"ID", CVar(tooLong), true);
    longId.SetVariantByName(L"Platform", CVar(L"1"), true);
    longId.SetVariantByName(L"Language", CVar(L"9"), true);
    longId.SetVariantByName(L"Version", CVar(L"1.0"), true);
    longId.SaveToRegistry(true);

    wchar_t found[64];
    _snwprintf(found, 63, L"%p", static_cast<void*>(wdx));
    wchar_t none[64];
    _snwprintf(none, 63, L"%p", static_cast<void*>(nullptr));
    const std::vector<ExpectedLine> lines = CapturedLines(peer, 18);
    EXPECT_TRUE(Has(lines, 68, L"[PLM Server]==> CAoSComponentList::Read()"));
    EXPECT_TRUE(Has(lines, 68, L"[PLM Server]<== CAoSComponentList::Read()"));
    EXPECT_TRUE(Has(lines, 87, L"[PLM Server]Failed regSubKey.Open(BROKEN)"));
    EXPECT_TRUE(Has(lines, 68, L"[PLM Server]==> CAoSComponentList::GetTargetVersion(KPSE_ADDON_WDX, 1.0.1000)"));
    EXPECT_TRUE(
        Has(lines, 68, std::wstring(L"[PLM Server]<== CAoSComponentList::GetTargetVersion(KPSE_ADDON_WDX), ") + found));
    EXPECT_TRUE(Has(lines, 68, std::wstring(L"[PLM Server]<== CAoSComponentList::GetTargetVersion(nope), ") + none));
    EXPECT_TRUE(Has(lines, 5, L"[PLM Server]Failed to find AOS component ID[ID]"));
    EXPECT_TRUE(Has(lines, 5, L"[PLM Server][PLM Server]Failed to create subkey[1_9_" + tooLong + L"]"));
    EXPECT_TRUE(Has(lines, 5, L"[PLM Server]Failed to create subkey[" + tooLong + L"]"));
    int saves = 0;
    for (const ExpectedLine& line : lines) {
        if (line.text == L"[PLM Server]==> CAoSComponent::SaveToRegistry()") ++saves;
        if (line.text == L"[PLM Server]<== CAoSComponent::SaveToRegistry()") ++saves;
    }
    EXPECT_EQ(8, saves);
}

}  // namespace
