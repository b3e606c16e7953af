// The header-only C++ layer over the C interface, in a program that loads the
// DLL as a page built with another compiler would: what throws and what does
// not, exceptions carried out of callbacks, copies, and texts longer than a
// first guess.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "console/plm_ConsoleCpp.h"

namespace {

const std::wstring kLong(5000, L'x');

// The request every test sees: the list is parsed once per process, on first use.
class Request : public testing::Environment {
public:
    void SetUp() override {
        SetEnvironmentVariableW(L"REQUEST_METHOD", L"GET");
        SetEnvironmentVariableW(L"QUERY_STRING", (L"a=1&b=two&A=3&n=42&long=" + kLong).c_str());
    }
};
const testing::Environment* const kRequest = testing::AddGlobalTestEnvironment(new Request);

std::vector<std::wstring> g_seen;
int g_throwAt = 0;
bool* Collect(const wchar_t* name, const wchar_t* value) {
    g_seen.push_back(std::wstring(name) + L"=" + value);
    if (static_cast<int>(g_seen.size()) == g_throwAt) throw std::runtime_error("page callback");
    return nullptr;
}
bool* CollectValue(const wchar_t* value) {
    g_seen.push_back(value);
    if (static_cast<int>(g_seen.size()) == g_throwAt) throw 7;
    return nullptr;
}

TEST(CppLayer, ReadsTheRequestWhateverTheTextsLength) {
    plm::CGetParameter params;
    EXPECT_EQ(params.GetErrorCode(), plm::CGI_OK);
    EXPECT_EQ(params.GetValue(L"long"), kLong);  // past the first size asked, fetched again
    EXPECT_EQ(params.GetValue(L"B"), L"two");
    EXPECT_EQ(params.GetValue(L"none", L"fallback"), L"fallback");
    EXPECT_EQ(params.GetValue(nullptr, L"fallback"), L"fallback");
    EXPECT_EQ(params.GetIntValue(L"n", -1), 42);
    EXPECT_EQ(params.GetIntValue(nullptr, -1), -1);
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    int pairs = 0;
    for (bool reset = true; params.GetNextPara(name, value, reset); reset = false) ++pairs;
    EXPECT_EQ(pairs, 5);
    EXPECT_EQ(value, nullptr);
    EXPECT_NE(params.GetParaTableHtml().find("two"), std::string::npos);
}

TEST(CppLayer, CarriesACallbacksExceptionOutAndStopsCallingIt) {
    plm::CGetParameter params;
    plm::CConsoleCommon console(PLM_CONTENT_HTML, nullptr, PLM_LOGIN_NONE);
    g_seen.clear();
    g_throwAt = 2;
    EXPECT_THROW(params.EnumParaCallBack(Collect), std::runtime_error);
    EXPECT_EQ(g_seen, (std::vector<std::wstring>{L"a=1", L"b=two"}));
    g_seen.clear();
    EXPECT_THROW(console.EnumSpecialParaCallBack(L"a", CollectValue), int);
    EXPECT_EQ(g_seen, (std::vector<std::wstring>{L"1", L"3"}));
    g_seen.clear();
    g_throwAt = 0;
    console.EnumParaCallBack(Collect);
    EXPECT_EQ(g_seen.size(), 5u);
    params.EnumParaCallBack(nullptr);  // no callback, no call
}

TEST(CppLayer, CopiesAndMovesOutliveTheirOriginals) {
    plm::CConsoleCommon assigned(PLM_CONTENT_CSV, L"report.csv", PLM_LOGIN_NONE);
    plm::CResourceLoader loader;
    std::string header;
    std::wstring text;
    {
        plm::CConsoleCommon original(PLM_CONTENT_HTML, nullptr, PLM_LOGIN_NONE);
        plm::CResourceLoader loaderOriginal;
        header = original.GetHeader();
        text = loaderOriginal.GetString(1);
        plm::CConsoleCommon copy(original);
        assigned = copy;
        const plm::CConsoleCommon& same = assigned;
        assigned = same;  // onto itself
        loader = loaderOriginal;
        plm::CConsoleCommon moved(std::move(copy));
        EXPECT_EQ(moved.GetHeader(), header);
        EXPECT_EQ(copy.GetHeader(), header);  // a move copies: both stay usable, as with the DLL's classes
    }
    EXPECT_NE(header.find("text/html"), std::string::npos);
    EXPECT_EQ(assigned.GetHeader(), header);
    EXPECT_EQ(assigned.GetErrorCode(), plm::CGI_OK);
    EXPECT_EQ(loader.GetString(1), text);
    plm::CPutStream stream;
    plm::CPutStream streamCopy(stream);
    stream = streamCopy;
    streamCopy << L"";
    streamCopy.WriteBinary(nullptr, 0);
}

TEST(CppLayer, ThrowsOnlyForTheResourceDll) {
    struct Row {
        const char* what;
        const wchar_t* module;
        int contentKind;
        int loginMode;
        bool throws;
        int status;
    } rows[] = {
        {"no such resource DLL", L"NoSuchResourceModule", PLM_CONTENT_HTML, PLM_LOGIN_NONE, true, 0},
        {"a content kind the interface does not know", nullptr, 2, PLM_LOGIN_NONE, false, PLM_E_INVALID_ARG},
        {"a login mode the interface does not know", nullptr, PLM_CONTENT_HTML, -1, false, PLM_E_INVALID_ARG},
        {"the known ones", nullptr, PLM_CONTENT_CSV, PLM_LOGIN_NONE, false, PLM_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        try {
            plm::CConsoleCommon console(row.contentKind, nullptr, row.loginMode, true, nullptr, row.module);
            EXPECT_FALSE(row.throws);
            EXPECT_EQ(console.GetErrorCode(), row.status);
            EXPECT_EQ(console.GetHeader().empty(), row.status != PLM_OK);
        } catch (plm::CResourceLoaderException* error) {
            delete error;
            EXPECT_TRUE(row.throws);
        }
    }
    try {
        plm::CResourceLoader loader(nullptr, L"NoSuchResourceModule");
        ADD_FAILURE() << "no exception";
    } catch (plm::CResourceLoaderException* error) {
        delete error;
    }
}

TEST(CppLayer, TellsTheInterfaceVersionAndNamesStatuses) {
    int major = 0, minor = 0;
    const wchar_t* library = nullptr;
    ASSERT_EQ(plm_GetVersion(&major, &minor, &library), PLM_OK);
    EXPECT_EQ(major, PLM_CAPI_VERSION_MAJOR);
    EXPECT_GE(minor, PLM_CAPI_VERSION_MINOR);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(std::wstring(library).find_first_not_of(L"0123456789."), std::wstring::npos) << library;
    EXPECT_EQ(plm_GetVersion(nullptr, &minor, nullptr), PLM_E_INVALID_ARG);
    const wchar_t* name = nullptr;
    const wchar_t* meaning = nullptr;
    EXPECT_EQ(plm_StatusText(PLM_CGI_LOGIN_EXPIRED, &name, &meaning), PLM_OK);
    EXPECT_STREQ(name, L"PLM_CGI_LOGIN_EXPIRED");
    EXPECT_EQ(plm_StatusText(3911, &name, nullptr), PLM_E_INVALID_ARG);
    EXPECT_STREQ(name, L"unknown status");
}

}  // namespace
