#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "RegTestKeys.h"
#include "foundation/var_CVar.h"
#include "registry/os_RegKey.h"

namespace {

const wchar_t kBase[] = L"Software\\WDXTest\\RegKey";
const wchar_t kLmBase[] = L"SOFTWARE\\WDXTest\\RegKey";

struct Delivered {
    std::wstring name;
    VARTYPE type;
    std::wstring text;
};

class CollectValues : public OS::CRegKey::CReadKeyValueCallback {
public:
    bool OnValue(const std::wstring& name, const CVar& value) override {
        values.push_back({name, value.Type(), value.GetText()});
        return false;  // ignored: every value is delivered
    }
    std::vector<Delivered> values;
};

class CollectKeys : public OS::CRegKey::CReadKeyCallback {
public:
    explicit CollectKeys(int stopAfter = -1) : m_stopAfter(stopAfter) {}
    bool OnKey(const std::wstring& name) override {
        names.push_back(name);
        return static_cast<int>(names.size()) != m_stopAfter;
    }
    std::vector<std::wstring> names;

private:
    int m_stopAfter;
};

std::vector<Delivered> EnumAll(HKEY parent, const wchar_t* path) {
    OS::CRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Open(parent, path));
    CollectValues values;
    key.EnumValues(values);
    return values.values;
}

TEST(RegKey, OpenMissingKeepsHeldKey) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    owned.SetText(L"", L"a", L"x");
    OS::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kBase));
    const HKEY held = key.Get();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, L"Software\\WDXTest\\RegKey\\nothere"));
    EXPECT_EQ(held, key.Get());
    CollectValues values;
    key.EnumValues(values);  // still usable
    ASSERT_EQ(1u, values.values.size());
    EXPECT_EQ(L"x", values.values[0].text);
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(ERROR_SUCCESS, key.Close());  // closing an empty object is fine
}

TEST(RegKey, CreateOpensExistingAndFailureKeepsHeldKey) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    OS::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(owned.Get(), L"child"));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4));
    OS::CRegKey again;
    ASSERT_EQ(ERROR_SUCCESS, again.Create(owned.Get(), L"child"));
    EXPECT_EQ(L"1", regtest::ReadText(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\child", 0, L"v"));
    const HKEY held = again.Get();
    EXPECT_NE(ERROR_SUCCESS, again.Create(nullptr, L"child"));
    EXPECT_EQ(held, again.Get());
}

// A key only in the 32-bit view: a 64-bit process sees the 64-bit view in both
// tries and misses it; a 32-bit process finds it through the default-view try.
TEST(RegKey, OpenPrefersThe64BitViewThenTheDefaultView) {
    const std::wstring only32 = std::wstring(kLmBase) + L"\\Only32";
    regtest::OwnedKey key32(HKEY_LOCAL_MACHINE, only32, KEY_WOW64_32KEY);
    key32.SetText(L"", L"view", L"32");
    OS::CRegKey key;
#ifdef _WIN64
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_LOCAL_MACHINE, only32.c_str()));
#else
    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, only32.c_str()));
#endif

    const std::wstring both = std::wstring(kLmBase) + L"\\Both";
    regtest::OwnedKey both32(HKEY_LOCAL_MACHINE, both, KEY_WOW64_32KEY);
    regtest::OwnedKey both64(HKEY_LOCAL_MACHINE, both, KEY_WOW64_64KEY);
    both32.SetText(L"", L"view", L"32");
    both64.SetText(L"", L"view", L"64");
    const std::vector<Delivered> values = EnumAll(HKEY_LOCAL_MACHINE, both.c_str());
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ(L"64", values[0].text);
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WDXTest", KEY_WOW64_32KEY);
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WDXTest", KEY_WOW64_64KEY);
}

// A process's default registry view is that of its own bitness: a 32-bit
// process under WOW64 (on 64-bit Windows, or wine32 in the 64-bit prefix)
// writes into the 32-bit view unless it asks for the other one. The save of
// the add-on's last error relies on this.
TEST(RegKey, TheDefaultViewIsTheProcesssOwn) {
    const std::wstring path = std::wstring(kLmBase) + L"\\DefaultView";
    {
        regtest::OwnedKey key(HKEY_LOCAL_MACHINE, path);  // created in the default view
        key.SetText(L"", L"view", L"default");
        const bool in32 = regtest::KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
        const bool in64 = regtest::KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
        BOOL wow64 = FALSE;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
#ifdef _WIN64
        EXPECT_FALSE(wow64);
        EXPECT_TRUE(in64);
        EXPECT_FALSE(in32);
#else
        EXPECT_TRUE(wow64) << "the 32-bit tests run on a 64-bit system (64-bit Wine prefix)";
        EXPECT_TRUE(in32);
        EXPECT_FALSE(in64);
#endif
    }
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WDXTest", KEY_WOW64_32KEY);
    regtest::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WDXTest", KEY_WOW64_64KEY);
}

TEST(RegKey, EnumKeysDeliversNamesAndStopsWhenAsked) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    OS::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kBase));
    CollectKeys none;
    key.EnumKeys(none);
    EXPECT_TRUE(none.names.empty());

    for (const wchar_t* name : {L"k1", L"k2", L"k3"}) owned.Sub(name);
    CollectKeys all;
    key.EnumKeys(all);
    EXPECT_EQ((std::vector<std::wstring>{L"k1", L"k2", L"k3"}), all.names);
    CollectKeys first(1);
    key.EnumKeys(first);
    EXPECT_EQ(1u, first.names.size());
}

TEST(RegKey, EnumValuesDeliversSupportedTypesOnly) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    owned.SetText(L"", L"a", L"x");
    const BYTE binary[] = {1, 2, 3};
    owned.SetRaw(L"", L"b", REG_BINARY, binary, sizeof binary);
    const ULONGLONG qword = 5;
    owned.SetRaw(L"", L"c", REG_QWORD, &qword, sizeof qword);
    owned.SetRaw(L"", L"d", REG_NONE, nullptr, 0);
    const DWORD bigEndian = 1;
    owned.SetRaw(L"", L"e", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof bigEndian);
    owned.SetDword(L"", L"n", 7);
    owned.SetDword(L"", L"o", 0xFFFFFFFF);
    const std::vector<Delivered> values = EnumAll(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(3u, values.size());
    EXPECT_EQ(L"a", values[0].name);
    EXPECT_EQ(VT_BSTR, values[0].type);
    EXPECT_EQ(L"x", values[0].text);
    EXPECT_EQ(L"n", values[1].name);
    EXPECT_EQ(VT_I4, values[1].type);
    EXPECT_EQ(L"7", values[1].text);
    EXPECT_EQ(L"-1", values[2].text);  // a 32-bit signed integer
}

TEST(RegKey, EnumValuesTextForms) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    const wchar_t multi[] = L"p\0q\0";  // with the implicit NUL: p, q, end
    owned.SetRaw(L"", L"m", REG_MULTI_SZ, multi, sizeof multi);
    owned.SetText(L"", L"n", L"%SystemRoot%\\x", REG_EXPAND_SZ);  // names in sorted order: Wine lists values sorted
    const wchar_t unterminated[] = {L'h', L'i'};
    owned.SetRaw(L"", L"u", REG_SZ, unterminated, sizeof unterminated);
    owned.SetRaw(L"", L"z", REG_SZ, nullptr, 0);
    const BYTE shortDword[] = {0x34, 0x12};
    owned.SetRaw(L"", L"zs", REG_DWORD, shortDword, sizeof shortDword);
    const std::vector<Delivered> values = EnumAll(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(5u, values.size());
    EXPECT_EQ(L"p", values[0].text);
    EXPECT_EQ(L"%SystemRoot%\\x", values[1].text);
    EXPECT_EQ(L"hi", values[2].text);
    EXPECT_EQ(L"", values[3].text);
    EXPECT_EQ(L"4660", values[4].text);  // 0x1234 from the two bytes there are
}

TEST(RegKey, EnumValuesReadsLargeDataThroughTheHeapBuffer) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    const std::wstring large(19999, L'L');  // 40000 bytes with the NUL
    owned.SetText(L"", L"big", large);
    const std::wstring edge(16383, L'E');  // 32768 bytes with the NUL: one past the fixed size
    owned.SetText(L"", L"edge", edge);
    const std::wstring fits(16382, L'F');  // 32766 bytes: read into the fixed buffer
    owned.SetText(L"", L"fits", fits);
    // Large text without a terminating NUL ends at the end of the data.
    // RegSetValueExW reads the character after the data (a nonzero one, so it adds no NUL):
    // it must lie in the buffer.
    const std::vector<wchar_t> bare(20001, L'U');
    owned.SetRaw(L"", L"unterminated", REG_SZ, bare.data(), static_cast<DWORD>(20000 * sizeof(wchar_t)));
    const std::vector<Delivered> values = EnumAll(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(4u, values.size());
    EXPECT_EQ(large, values[0].text);
    EXPECT_EQ(edge, values[1].text);
    EXPECT_EQ(fits, values[2].text);
    EXPECT_EQ(std::wstring(20000, L'U'), values[3].text);
}

// Runs fn on a thread and fails the test when it does not finish in time.
template <typename Fn>
bool FinishesWithin(DWORD ms, Fn fn) {
    struct Ctx {
        Fn* fn;
        static DWORD WINAPI Run(void* p) {
            (*static_cast<Ctx*>(p)->fn)();
            return 0;
        }
    } ctx{&fn};
    OS::UniqueHandle thread(CreateThread(nullptr, 0, &Ctx::Run, &ctx, 0, nullptr));
    if (!thread) return false;
    if (WaitForSingleObject(thread.get(), ms) == WAIT_OBJECT_0) return true;
    ADD_FAILURE() << "enumeration did not end; terminating the process to avoid a hang";
    ExitProcess(3);
}

class DeleteOnFirstValue : public OS::CRegKey::CReadKeyValueCallback {
public:
    bool OnValue(const std::wstring&, const CVar&) override {
        if (++calls == 1) regtest::DeleteTree(HKEY_CURRENT_USER, kBase, 0);
        return true;
    }
    int calls = 0;
};

class DeleteOnFirstKey : public OS::CRegKey::CReadKeyCallback {
public:
    bool OnKey(const std::wstring&) override {
        if (++calls == 1) regtest::DeleteTree(HKEY_CURRENT_USER, kBase, 0);
        return true;
    }
    int calls = 0;
};

TEST(RegKey, EnumerationEndsWhenTheKeyIsDeletedMeanwhile) {
    regtest::OwnedKey owned(HKEY_CURRENT_USER, kBase);
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = L"v" + std::to_wstring(i);
        owned.SetText(L"", name.c_str(), L"x");
        owned.Sub(name);
    }
    OS::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kBase));
    DeleteOnFirstValue values;
    EXPECT_TRUE(FinishesWithin(20000, [&] { key.EnumValues(values); }));
    EXPECT_GE(values.calls, 1);

    regtest::OwnedKey again(HKEY_CURRENT_USER, kBase);
    for (int i = 0; i < 5; ++i) again.Sub(L"k" + std::to_wstring(i));
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kBase));
    DeleteOnFirstKey keys;
    EXPECT_TRUE(FinishesWithin(20000, [&] { key.EnumKeys(keys); }));
    EXPECT_GE(keys.calls, 1);
}

}  // namespace
