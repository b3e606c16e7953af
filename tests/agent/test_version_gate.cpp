// The server version gate and the localized refusal message, against real
// version resources and settings files.
#include <gtest/gtest.h>

#include "ServerFixture.h"
#include "agent/WDXPatchAgent_Internal.h"
#include "foundation/win_Handle.h"

using testsupport::SimulatedServer;

TEST(VersionGate, AcceptsFrom10_55AndAnyLaterMajor) {
    const struct {
        const wchar_t* stub;
        bool accepted;
    } cases[] = {
        {L"10_6", true},   {L"10_55", true},   {L"11_0", true},    {L"10_5", false},
        {L"10_50", false}, {L"10_549", false}, {L"10_100", false}, {L"9_9", false},
    };
    for (const auto& c : cases) {
        SimulatedServer server(L"gate", c.stub);
        EXPECT_EQ(c.accepted, ChkKPSEVer()) << "server version " << testing::PrintToString(c.stub);
    }
}

TEST(VersionGate, MissingExecutableIsRefused) {
    SimulatedServer server(L"gate", L"");
    EXPECT_FALSE(ChkKPSEVer());
}

TEST(VersionGate, MissingInstallFolderValueIsRefused) {
    testsupport::LocalPathOverride none(nullptr);
    EXPECT_FALSE(ChkKPSEVer());
}

class RefusalMessage : public testing::Test {
protected:
    void SetUp() override {
        std::wstring dll = testsupport::ExeDir() + L"\\WDXPatchAgent.dll";
        m_strings.reset(LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(m_strings.valid());
        Agent_SetModule(m_strings.get());
    }
    void TearDown() override { Agent_SetModule(nullptr); }

    static std::wstring Message() {
        wchar_t buffer[1024];
        wmemset(buffer, 0xBD, 1024);
        EXPECT_EQ(0, LoadResString(buffer));
        return buffer;
    }

    OS::UniqueModule m_strings;
};

TEST_F(RefusalMessage, PicksTextByExactLanguageCode) {
    const struct {
        const wchar_t* code;
        const wchar_t* text;
    } cases[] = {
        {L"ko", L"!!ps!!This tool require Quillon 10.6 and above"},
        {L"zh_tw", L"此工具需要 Quillon 10.6 和更新版本"},
        {L"zh_cn", L"此工具需要使用Quillon 10.6 及更高版本"},
        {L"de", L"Dieses Tool erfordert Quillon 10.6 und höher"},
        {L"pl", L"To narzędzie wymaga Quillon w wersji 10.6 lub wyższej"},
        {L"ru", L"Для этого средства требуется Quillon 10.6 и выше"},
        {L"ja", L"このツールには、Quillon 10.6以上が必要です"},
        {L"fr", L"Cet outil requiert Quillon 10.6 et version ultérieures"},
        {L"it", L"Questo strumento supporta Quillon 10.6 e versioni successive"},
        {L"es", L"Esta herramienta requiere Quillon 10.6 y versiones posteriores"},
        // Case differences and unknown codes keep the English text.
        {L"EN", L"This tool supports Quillon 10.6 clients and above"},
        {L"zh_CN", L"This tool supports Quillon 10.6 clients and above"},
        {L"jp", L"This tool supports Quillon 10.6 clients and above"},
        {L"", L"This tool supports Quillon 10.6 clients and above"},
    };
    SimulatedServer server(L"lang", L"10_5");
    for (const auto& c : cases) {
        server.SetLanguage(c.code);
        EXPECT_EQ(std::wstring(c.text), Message()) << "language code index " << (&c - cases);
    }
}

TEST_F(RefusalMessage, EnglishWithoutSettingsFileOrServer) {
    {
        SimulatedServer server(L"lang", L"10_5");
        EXPECT_EQ(L"This tool supports Quillon 10.6 clients and above", Message());
    }
    testsupport::LocalPathOverride none(nullptr);
    EXPECT_EQ(L"This tool supports Quillon 10.6 clients and above", Message());
}

// The shipped 32-bit DLL carries the same string table and its version resource.
TEST(ShippedDll, ResourcesLoadIntactFromThe32BitBuild) {
    std::wstring dll = testsupport::ExeDir() + L"\\x86\\WDXPatchAgent.dll";
    OS::UniqueModule module(
        LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module.valid()) << "the 32-bit DLL is copied next to the tests by the build";
    wchar_t text[1024] = {};
    ASSERT_GT(LoadStringW(module.get(), 103, text, 1024), 0);
    EXPECT_STREQ(L"此工具需要 Quillon 10.6 和更新版本", text);
    ASSERT_GT(LoadStringW(module.get(), 110, text, 1024), 0);
    EXPECT_STREQ(L"Для этого средства требуется Quillon 10.6 и выше", text);
    EXPECT_EQ(0, LoadStringW(module.get(), 113, text, 1024));

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(dll.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len));
    EXPECT_EQ(MAKELONG(0, 1), info->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1045, 0), info->dwFileVersionLS);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                               reinterpret_cast<void**>(&product), &len));
    EXPECT_STREQ(L"KPSE_ADDON_WDX", product);
}
