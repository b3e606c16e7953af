// Where the SDK finds the server and the add-on root.
#include <gtest/gtest.h>

#include "ServerFixture.h"
#include "aos/AoSSrvSDK.h"
#include "foundation/win_Handle.h"

using testsupport::LocalPathOverride;

namespace {

std::wstring Join(const wchar_t* base, const wchar_t* tail) {
    wchar_t out[261];
    wmemset(out, 0xBD, 261);
    JoinPath(base, tail, out);
    return out;
}

std::wstring PathInfo(AoSPathKind kind) {
    wchar_t out[260];
    wmemset(out, 0xBD, 260);
    EXPECT_EQ(0, AoSSrv_GetPathInfo(kind, out));
    return out;
}

TEST(JoinPath, ExactlyOneBackslashBetweenParts) {
    const struct {
        const wchar_t *base, *tail, *joined;
    } cases[] = {
        {L"", L"\\Addon", L"\\Addon"},
        {L"", L"Addon", L"Addon"},
        {L"D:\\Srv", L"\\Addon", L"D:\\Srv\\Addon"},
        {L"D:\\Srv", L"Addon", L"D:\\Srv\\Addon"},
        {L"D:\\Srv\\", L"\\Addon", L"D:\\Srv\\Addon"},
        {L"D:\\Srv\\", L"Addon", L"D:\\Srv\\Addon"},
        {L"D:\\Srv", L"", L"D:\\Srv"},
        {L"D:\\Srv\\", L"", L"D:\\Srv\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.joined, Join(c.base, c.tail)) << testing::PrintToString(c.base);
}

TEST(JoinPath, CutsTo260Characters) {
    std::wstring base(250, L'b');
    std::wstring joined = Join(base.c_str(), L"\\0123456789abcdef");
    EXPECT_EQ(260u, joined.size());
    EXPECT_EQ(base + L"\\012345678", joined);
}

TEST(PathInfo, AddonRootDropsFirstServerFolderMarker) {
    const struct {
        const wchar_t *localPath, *addonRoot;
    } cases[] = {
        {L"C:\\Program Files\\Norvale\\Quillon\\KPSSRV\\", L"C:\\Program Files\\Norvale\\Quillon\\Addon"},
        {L"D:\\Srv", L"D:\\Srv\\Addon"},
        {L"D:\\KPSSRV\\KPSSRV\\", L"D:\\KPSSRV\\Addon"},
        {L"D:\\kpssrv\\", L"D:\\kpssrv\\Addon"},  // the marker is case-sensitive
        {L"D:\\KPSSRV", L"D:\\KPSSRV\\Addon"},    // no backslash after it: no marker
    };
    for (const auto& c : cases) {
        std::wstring value = c.localPath;
        LocalPathOverride local(&value);
        EXPECT_EQ(c.localPath, PathInfo(ServerFolder));
        EXPECT_EQ(c.addonRoot, PathInfo(AddonRoot)) << testing::PrintToString(c.localPath);
    }
}

TEST(PathInfo, MissingOrOversizedValueGivesEmptyServerFolder) {
    {
        LocalPathOverride none(nullptr);
        EXPECT_EQ(L"", PathInfo(ServerFolder));
        EXPECT_EQ(L"\\Addon", PathInfo(AddonRoot));
    }
    std::wstring tooLong = L"C:\\" + std::wstring(300, L'x');
    LocalPathOverride local(&tooLong);
    EXPECT_EQ(L"", GetServerLocalPath());
}

TEST(PathInfo, AddonRootIsCutToTheOutputBuffer) {
    std::wstring value = L"C:\\" + std::wstring(255, L'y');  // 258 characters, fits the registry read
    LocalPathOverride local(&value);
    EXPECT_EQ(value, GetServerLocalPath());
    std::wstring root = PathInfo(AddonRoot);
    EXPECT_EQ(259u, root.size());
    EXPECT_EQ(value + L"\\", root);
}

// The server's keys are looked up in the 64-bit view first, then in the caller's
// own view.
class RegistryViews : public testing::Test {
protected:
    static void SetIn(REGSAM view, const wchar_t* value) {
        OS::UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, 0, nullptr, 0,
                                                 KEY_WRITE | view, nullptr, key.put(), nullptr));
        RegSetValueExW(key.get(), kServerLocalPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    static void DeleteIn(REGSAM view) { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, view, 0); }

    // Each case starts with the key absent from both views; m_restore puts the
    // 64-bit value back afterwards.
    void SetUp() override {
        DeleteIn(KEY_WOW64_64KEY);
        DeleteIn(KEY_WOW64_32KEY);
    }
    void TearDown() override { DeleteIn(KEY_WOW64_32KEY); }
    LocalPathOverride m_restore{nullptr};
};

TEST_F(RegistryViews, SixtyFourBitViewWins) {
    SetIn(KEY_WOW64_64KEY, L"C:\\Srv64\\");
    SetIn(KEY_WOW64_32KEY, L"C:\\Srv32\\");
    EXPECT_EQ(L"C:\\Srv64\\", GetServerLocalPath());
}

TEST_F(RegistryViews, KeyWithoutValueIn64BitViewHidesThe32BitOne) {
    OS::UniqueRegKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                    key.put(), nullptr);
    SetIn(KEY_WOW64_32KEY, L"C:\\Srv32\\");
    EXPECT_EQ(L"", GetServerLocalPath());
}

TEST_F(RegistryViews, ValueOnlyInThe32BitView) {
    SetIn(KEY_WOW64_32KEY, L"C:\\Srv32\\");
#ifdef _WIN64
    // A 64-bit caller's own view is the 64-bit one, where the value is absent.
    EXPECT_EQ(L"", GetServerLocalPath());
#else
    // A 32-bit caller falls back to its own (32-bit) view.
    EXPECT_EQ(L"C:\\Srv32\\", GetServerLocalPath());
#endif
}

}  // namespace
