// The process-wide list behind plm::CGetParameter, the server settings it reads
// and the ini value cache.
#include <gtest/gtest.h>

#include "ParamTestSupport.h"
#include "ServerFixture.h"
#include "console/plm_Console.h"
#include "console/plm_ConsoleC.h"
#include "libCGIConsoleCommon/common/cgi_IniValueCache.h"

namespace {

std::vector<std::wstring> g_values;
bool* Record(const wchar_t* value) {
    g_values.push_back(value);
    return nullptr;
}

// The list is parsed once per process, by the first instance: in a process of its own.
TEST(ProcessList, FirstInstanceParsesTheEnvironmentAndAllShareIt) {
    if (!testsupport::InOwnProcess()) return;
    SetEnvironmentVariableW(L"REQUEST_METHOD", L"GET");
    SetEnvironmentVariableW(L"QUERY_STRING", L"a=1&b=%C3%A9&a=3&n=%2042x");
    plm::CGetParameter first;
    EXPECT_EQ(3900, first.GetErrorCode());
    SetEnvironmentVariableW(L"QUERY_STRING", L"a=changed");
    plm::CGetParameter second;
    second = first;
    EXPECT_EQ(L"1", second.GetValue(L"A"));
    EXPECT_EQ(L"\u00e9", second.GetValue(L"b", L"fb"));
    EXPECT_EQ(L"fb", second.GetValue(L"c", L"fb"));
    EXPECT_EQ(L"", second.GetValue(L"c"));
    EXPECT_EQ(42, second.GetIntValue(L"n", 7));
    EXPECT_EQ(0, second.GetIntValue(L"b", 7));
    EXPECT_EQ(7, second.GetIntValue(L"c", 7));
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    ASSERT_TRUE(first.GetNextPara(name, value, true));
    ASSERT_TRUE(second.GetNextPara(name, value, false));  // the cursor is shared
    EXPECT_STREQ(L"b", name);
    g_values.clear();
    second.EnumSpecialParaCallBack(L"a", Record);
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"3"}), g_values);
    // A callback that sends the shared cursor back does not restart the walk (bounded should it).
    PLM_PARAMS* params = nullptr;
    ASSERT_EQ(plm_ParamsOpen(&params), PLM_OK);
    auto resetting = [](void* context, const wchar_t*, const wchar_t* value) {
        if (g_values.size() < 8) plm_ParamsResetEnum(static_cast<PLM_PARAMS*>(context));
        g_values.push_back(value);
    };
    g_values.clear();
    EXPECT_EQ(plm_ParamsEnum(params, resetting, params), PLM_OK);
    EXPECT_EQ(g_values.size(), 4u);
    EXPECT_EQ(plm_ParamsNextPara(params, 0, &name, &value), PLM_NO_MORE_PARAMS);  // left where the walk ended
    EXPECT_EQ(plm_ParamsClose(params), PLM_OK);
    EXPECT_NE(std::string::npos, first.GetParaTableHtml().find("\xC3\xA9"));
    plm::CConsoleCommon context(0, nullptr, 2, false);  // no parameters of its own, yet the one list
    g_values.clear();
    context.EnumSpecialParaCallBack(L"a", Record);
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"3"}), g_values);
}

TEST(ServerSettings, MaxPostSizeComesFromThePrivateSettingsOfLocalPath) {
    testsupport::TempDir dir(L"postsize");
    std::wstring install = dir.path() + L"\\KPSSRV";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((install + L"\\Private").c_str(), nullptr);
    testsupport::WriteFileText(install + L"\\Private\\kpsserver.ini",
                               "[INI_SERVER_SECTION]\r\nMaxCGIPostSizeInK=7\r\n");
    int valueK = 0;
    {
        testsupport::LocalPathOverride localPath(&install);  // no trailing backslash: one is added
        ASSERT_TRUE(plm::ReadMaxPostSizeK(valueK));
        EXPECT_EQ(7, valueK);
        testsupport::WriteFileText(install + L"\\Private\\kpsserver.ini", "[INI_SERVER_SECTION]\r\n");
        ASSERT_TRUE(plm::ReadMaxPostSizeK(valueK));
        EXPECT_EQ(5120, valueK);
    }
    testsupport::LocalPathOverride absent(nullptr);
    EXPECT_FALSE(plm::ReadMaxPostSizeK(valueK));
}

DWORD g_now = 0;
DWORD WINAPI FakeTick() { return g_now; }

TEST(IniValueCache, CachesForItsLifetimeAndReadsDirectlyInMode1) {
    testsupport::TempDir dir(L"inicache");
    std::wstring path = dir.Join(L"s.ini");
    plm::CIniValueCache missing;
    EXPECT_FALSE(missing.Open(path.c_str()));
    EXPECT_EQ(9, missing.GetInt(L"S", L"k", 9));
    testsupport::WriteFileText(path, "[S]\r\nk=1\r\n");
    plm::CIniValueCache cache(&FakeTick);
    g_now = 0xFFFFFF00u;  // the lifetime check survives the tick count's wrap
    ASSERT_TRUE(cache.Open(path.c_str(), 2));
    EXPECT_EQ(2000u, cache.LifetimeMs());
    EXPECT_EQ(1, cache.GetInt(L"S", L"k", 0));
    testsupport::WriteFileText(path, "[S]\r\nk=2\r\n");
    g_now += 2000;
    EXPECT_EQ(1, cache.GetInt(L"S", L"k", 0));
    EXPECT_EQ(2, cache.GetInt(L"S", L"k", 0, plm::CIniValueCache::kReadDirect));
    g_now += 1;
    EXPECT_EQ(2, cache.GetInt(L"S", L"k", 0));
    EXPECT_EQ(5, cache.GetInt(L"S", L"other", 5));
    plm::CIniValueCache defaults;
    defaults.Open(path.c_str());
    EXPECT_EQ(30000u, defaults.LifetimeMs());
}

}  // namespace
