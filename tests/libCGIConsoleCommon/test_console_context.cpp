// The console context, the response stream, the resource loader and the HTML
// shells, through the exported classes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "../../samples/cgires/cgires_ids.h"
#include "ConsoleTestSupport.h"
#include "ServerFixture.h"
#include "console/plm_Console.h"
#include "console/plm_ConsoleC.h"
#include "foundation/win_Handle.h"
#include "libCGIConsoleCommon/capi/cgi_CInterface.h"
#include "libCGIConsoleCommon/page/cgi_ConsoleContext.h"
#include "libCGIConsoleCommon/common/cgi_Html.h"

namespace {

using namespace consoletest;
using peers::CmdReply;

const std::string kTop = "Server: Quillon CGI\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n";
const wchar_t kResourceDll[] = L"CGIResUTF8.dll";

// The sample DLL's own text of id in language, asked for directly.
std::wstring SampleText(const wchar_t* language, int id) {
    OS::UniqueModule dll(LoadLibraryW(kResourceDll));
    typedef int(__cdecl * GetText)(const wchar_t*, int, wchar_t*, int);
    const auto get =
        reinterpret_cast<GetText>(reinterpret_cast<void*>(GetProcAddress(dll.get(), "cgi_GetResourceString")));
    wchar_t text[1024] = {};
    if (get) get(language, id, text, 1024);
    return text;
}

class ConsoleContext : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace.Started());
        ASSERT_TRUE(server.started);
    }
    testsupport::Watchdog watchdog{120000, "console context"};
    testsupport::TraceCapture trace;
    ServerPeer server;
    TestHost test;
    plm::ScopedCookieHost useTestHost{test.host};
    ScopedEnv noSoftware{L"SERVER_SOFTWARE", nullptr};
    ScopedEnv noCookie{L"HTTP_COOKIE", nullptr};
};

TEST_F(ConsoleContext, Headers) {
    test.WriteKeyFile(L"42", "k42", test.tick);
    const std::wstring valid = L"session=42; key=k42; stamp=" + std::to_wstring(test.tick);
    const struct {
        const char* what;
        int contentKind;
        const wchar_t* downloadName;
        int loginMode;
        const wchar_t* cookie;
        int code;
        std::string header;
    } cases[] = {
        {"no login check", 0, nullptr, 2, nullptr, 3900, kTop + "Content-type: text/html;charset=utf-8\r\n\r\n"},
        {"verified login", 0, nullptr, 0, valid.c_str(), 3900,
         kTop + "Set-Cookie: key=k42;path=/quillon\r\nSet-Cookie: session=42;path=/quillon\r\n" + test.Stamps() +
             "Content-type: text/html;charset=utf-8\r\n\r\n"},
        {"no cookies", 0, nullptr, 0, nullptr, 3906,
         kTop + test.Stamps() + "Content-type: text/html;charset=utf-8\r\n\r\n"},
        {"download", 1, L"report.csv", 2, nullptr, 3900,
         kTop + "Content-type: text/x-csv;charset=utf-8\r\nContent-Disposition: filename=\"report.csv\"\r\n\r\n"},
        {"download name in UTF-8", 1, L"Bericht-\u00e4.csv", 2, nullptr, 3900,
         kTop + "Content-type: text/x-csv;charset=utf-8\r\nContent-Disposition: "
                "filename=\"Bericht-\xC3\xA4.csv\"\r\n\r\n"},
        {"download name with line breaks and quotes", 1, L"a\r\nSet-Cookie: x=\"y\".csv", 2, nullptr, 3900,
         kTop + "Content-type: text/x-csv;charset=utf-8\r\nContent-Disposition: filename=\"aSet-Cookie: "
                "x=y.csv\"\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv cookie(L"HTTP_COOKIE", c.cookie);
        plm::CConsoleCommon context(c.contentKind, c.downloadName, c.loginMode, false);
        EXPECT_EQ(context.GetErrorCode(), c.code);
        EXPECT_EQ(context.GetHeader(), c.header);
    }
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 73, L"[cgi init]m_nErrorCode=(3906)", kWaitMs));
}

// The request is parsed once per process: this is the only test of this process
// that asks for the parameters (the other runs in its own), with a request the
// parser refuses.
TEST_F(ConsoleContext, ParameterStatus) {
    ScopedEnv method(L"REQUEST_METHOD", L"POST");
    ScopedEnv type(L"CONTENT_TYPE", L"text/plain");
    test.WriteKeyFile(L"42", "k42", test.tick);
    {
        ScopedEnv cookie(L"HTTP_COOKIE", (L"session=42; key=k42; stamp=" + std::to_wstring(test.tick)).c_str());
        plm::CConsoleCommon verified(0, nullptr, 0, true);
        EXPECT_EQ(verified.GetErrorCode(), 4001);
    }
    plm::CConsoleCommon failed(0, nullptr, 0, true);
    EXPECT_EQ(failed.GetErrorCode(), 3906);
}

TEST_F(ConsoleContext, ServerSoftwareAndNewLogin) {
    ScopedEnv software(L"SERVER_SOFTWARE", L"lighttpd/1.4.69");
    plm::CConsoleCommon context(0, nullptr, 1, false);
    EXPECT_EQ(context.GetErrorCode(), 3900);
    const std::string header = context.GetHeader();
    EXPECT_EQ(header.rfind("Server: lighttpd/1.4.69\r\nPragma: no-cache\r\n", 0), 0u);
    EXPECT_NE(header.find("Set-Cookie: key="), std::string::npos);
    EXPECT_NE(ListFolder(test.Temp()).find(L".key_"), std::wstring::npos);
    test.host.random15 = [](int&) { return false; };  // no safe draw: the login is refused
    plm::CConsoleCommon refused(0, nullptr, 1, false);
    EXPECT_EQ(refused.GetErrorCode(), 3909);
    EXPECT_EQ(refused.GetHeader().find("Set-Cookie:"), std::string::npos);
}

// While the server reports a backup, no page checks or writes login cookies.
TEST_F(ConsoleContext, DatabaseBackup) {
    server.handler.SetReply(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS",
                            CmdReply::Text(L"1\t15\t2\t10\t0\t30\t6\t0\t2026"));
    {
        plm::CConsoleCommon context(0, nullptr, 0, false);
        EXPECT_EQ(context.GetErrorCode(), 3900);
        EXPECT_EQ(context.GetHeader(), kTop + "Content-type: text/html;charset=utf-8\r\n\r\n");
        EXPECT_TRUE(plm::ConsoleBackupInProgress());
        EXPECT_EQ(plm::ConsoleBackupTime().wYear, 2026);
    }
    server.handler.SetReply(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS", CmdReply::Text(L"0"));
    plm::CConsoleCommon context(0, nullptr, 0, false);
    EXPECT_EQ(context.GetErrorCode(), 3906);
    EXPECT_FALSE(plm::ConsoleBackupInProgress());
}

// A handler that takes commands and never answers holds a page for about one
// bound, not one per command: after the first time-out the rest fail at once.
TEST_F(ConsoleContext, SilentHandlerCostsAboutOneBound) {
    server.handler.SetResponder([](const peers::ServerCommand&) { return CmdReply::Of(CmdReply::kSilence); });
    testsupport::ShortBound bound(1000);
    ScopedEnv cookie(L"HTTP_COOKIE", L"session=1;key=k;stamp=1;LoginNameIndex=0");
    const DWORD start = GetTickCount();
    plm::CConsoleCommon context(0, nullptr, 0, false);
    EXPECT_LT(GetTickCount() - start, testsupport::Slack(2500));
    EXPECT_TRUE(trace.WaitForLine(L".\\cmdao_OutputCmd", 5,
                                  L"[cmdao_PipeSendAndRecv] Not sent on CMDHO_PR_GET_PFW_AC_INFO", kWaitMs));
}

TEST_F(ConsoleContext, SingleSignOn) {
    const struct {
        const wchar_t* session;
        int code;
    } cases[] = {{L"ok-1", 3900}, {L"refused", 3910}};
    for (const auto& c : cases) {
        SCOPED_TRACE(peers::ToUtf8(c.session));
        const std::wstring cookie =
            L"HUBC_VirtualPath=/HubConsole/SSO_PKI; HUBC_Session_Data=" + std::wstring(c.session);
        ScopedEnv env(L"HTTP_COOKIE", cookie.c_str());
        plm::CConsoleCommon context(0, nullptr, 0, false);
        EXPECT_EQ(context.GetErrorCode(), c.code);  // 3907 from the cookies alone
        EXPECT_EQ(context.GetHeader(), kTop + test.Stamps("/HubConsole/SSO_PKI") +
                                           "Content-type: text/html;charset=utf-8\r\nX-Console-SSO: " +
                                           peers::ToUtf8(c.session) + "\r\n\r\n");
    }
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 73, L"[init]SSO case", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 73, L"[init]SSO connection=(1)", kWaitMs));
    EXPECT_TRUE(trace.WaitForLine(kCookieSource, 73, L"[init]SSO Pass cookie", kWaitMs));
}

TEST_F(ConsoleContext, ResourceDll) {
    // A copy in the working folder only is not found: the DLL comes from the program's folder.
    testsupport::TempDir cwd(L"rescwd");
    ASSERT_TRUE(
        CopyFileW((testsupport::ExeDir() + L"\\CGIResUTF8.dll").c_str(), cwd.Join(L"CwdOnly.dll").c_str(), FALSE));
    struct InFolder {
        wchar_t previous[MAX_PATH] = {};
        explicit InFolder(const std::wstring& folder) {
            GetCurrentDirectoryW(MAX_PATH, previous);
            SetCurrentDirectoryW(folder.c_str());
        }
        ~InFolder() { SetCurrentDirectoryW(previous); }
    } inCwd(cwd.path());
    for (const wchar_t* module : {L"NoSuchResources", L"SSO_PKIHelper", L"CwdOnly"}) {
        SCOPED_TRACE(peers::ToUtf8(module));
        plm::CResourceLoaderException* thrown = nullptr;
        try {
            plm::CConsoleCommon context(0, nullptr, 2, false, nullptr, module);
        } catch (plm::CResourceLoaderException* e) {
            thrown = e;
        }
        EXPECT_NE(thrown, nullptr);
        delete thrown;
    }
    EXPECT_NE(GetModuleHandleW(L"SSO_PKIHelper.dll"), nullptr);  // no entry point, yet left loaded
    // The first language offered picks the text; the DLL knows German and
    // gives English for anything else.
    const struct {
        const wchar_t* acceptLanguage;
        int id;
        const wchar_t* language;
    } cases[] = {
        {nullptr, CGIRES_SIGN_IN, L"en"},
        {L"de-DE,de;q=0.9,en;q=0.8", CGIRES_SIGN_IN, L"de"},
        {L" de-AT", CGIRES_TITLE_INDEX, L"de"},
        {L"fr, de", CGIRES_CODE(3905), L"en"},
        {L"de", CGIRES_CODE(3910), L"de"},
        {L"en-US", CGIRES_CODE(3909), L"en"},
        {L"en", 99999, L"en"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.acceptLanguage ? peers::ToUtf8(c.acceptLanguage) : "none");
        if (c.id != 99999) {
            ASSERT_NE(SampleText(L"de", c.id), SampleText(L"en", c.id));
        }
        ScopedEnv language(L"HTTP_ACCEPT_LANGUAGE", c.acceptLanguage);
        plm::CConsoleCommon context(0, nullptr, 2, false);
        EXPECT_EQ(context.LoadResString(c.id), SampleText(c.language, c.id));
    }
}

// Copies share the implementation; the last owner releases it and, with it,
// its reference on the resource DLL.
TEST_F(ConsoleContext, SharedImplementationReleasedOnce) {
    const std::wstring signIn = SampleText(L"en", CGIRES_SIGN_IN);
    auto loaded = [] { return GetModuleHandleW(kResourceDll) != nullptr; };
    ASSERT_FALSE(loaded());
    {
        plm::CConsoleCommon first(0, nullptr, 2, false);
        {
            plm::CConsoleCommon second(0, nullptr, 2, false);
            plm::CConsoleCommon copy(second);
            second = first;
            second = second;
            copy = first;
            EXPECT_EQ(copy.GetHeader(), first.GetHeader());
        }
        EXPECT_TRUE(loaded());
        EXPECT_EQ(first.LoadResString(CGIRES_SIGN_IN), signIn);
    }
    EXPECT_FALSE(loaded());

    plm::CResourceLoader* original = new plm::CResourceLoader;
    plm::CResourceLoader copy(*original);
    plm::CResourceLoader assigned(L"", L"CGIResUTF8");
    assigned = *original;
    delete original;
    EXPECT_EQ(copy.GetString(CGIRES_SIGN_IN), signIn);
    EXPECT_EQ(assigned.GetString(CGIRES_SIGN_IN), signIn);
}

// Owners copied and dropped on several threads at once: the implementation, and
// with it the loader's reference on the resource DLL, goes with the last owner,
// not before and not never.
TEST_F(ConsoleContext, OwnersOnManyThreads) {
    ASSERT_EQ(GetModuleHandleW(kResourceDll), nullptr);
    auto first = std::make_unique<plm::CConsoleCommon>(0, nullptr, 2, false);
    HMODULE pin = nullptr;  // keeps the DLL mapped, so an early release shows as a missing reference
    ASSERT_TRUE(GetModuleHandleExW(0, kResourceDll, &pin));
    testsupport::RunTogether(4, [&] {
        for (int i = 0; i < 200000; ++i) {
            plm::CConsoleCommon copy(*first);
            plm::CConsoleCommon other(copy);
            other = *first;
        }
    });
    FreeLibrary(pin);
    EXPECT_NE(GetModuleHandleW(kResourceDll), nullptr) << "released while an owner was left";
    first.reset();
    EXPECT_EQ(GetModuleHandleW(kResourceDll), nullptr) << "not released by the last owner";
}

TEST_F(ConsoleContext, OutputBytes) {
    plm::CConsoleCommon context(1, L"r.csv", 2, false);
    CapturedStdout out;
    context.WriteHeader();
    {
        plm::CPutStream stream;
        plm::CPutStream copy(stream);
        copy = stream;
        stream << L"\u00e9\xD83D\xDE00\xD800" << 42 << -7 << "ab" << static_cast<const wchar_t*>(nullptr)
               << static_cast<const char*>(nullptr);
        copy.WriteBinary("\r\n\0x", 4);
    }
    EXPECT_EQ(out.Bytes(), context.GetHeader() +
                               "\xC3\xA9\xF0\x9F\x98\x80\xED\xA0\x80"
                               "42-7ab" +
                               std::string("\r\n\0x", 4));
}

// The classes, the C interface and the program's own printf share the C
// runtime's stdout: mixed, their bytes keep the order written, across the
// stream's buffer size and around binary writes.
TEST_F(ConsoleContext, ClassesAndCInterfaceShareOneOutput) {
    PLM_CONSOLE* console = nullptr;
    PLM_STREAM* stream = nullptr;
    ASSERT_EQ(plm_ConsoleOpen(0, nullptr, 2, 0, nullptr, nullptr, &console), PLM_OK);
    ASSERT_EQ(plm_StreamOpen(0, &stream), PLM_OK);
    const std::string big(5000, 'x');
    CapturedStdout out;
    EXPECT_EQ(plm_ConsoleWriteHeader(console), PLM_OK);
    plm::CPutStream classes;
    classes << L"a\n";
    EXPECT_EQ(plm_StreamWriteText(stream, L"b\u00e9\n"), PLM_OK);
    classes.WriteBinary("c\n", 2);
    EXPECT_EQ(plm_StreamWriteAnsi(stream, big.c_str()), PLM_OK);
    printf("p\n");
    classes << -7;
    EXPECT_EQ(plm_StreamWriteBinary(stream, "d\n", 2), PLM_OK);
    EXPECT_EQ(plm_StreamWriteInt(stream, 42), PLM_OK);
    EXPECT_EQ(out.Bytes(),
              "Server: Quillon CGI\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
              "Content-type: text/html;charset=utf-8\r\n\r\n"
              "a\r\nb\xC3\xA9\r\nc\n" +
                  big + "p\r\n-7d\n42");
    EXPECT_EQ(plm_StreamClose(stream), PLM_OK);
    EXPECT_EQ(plm_ConsoleClose(console), PLM_OK);
}

// Misuse of the C interface: a status for each, nothing written where it must
// not be, nothing left behind.
TEST_F(ConsoleContext, CInterfaceBadCalls) {
    const size_t liveBefore = plm::LiveCInterfaceHandles();
    PLM_PARAMS* params = nullptr;
    PLM_CONSOLE* console = nullptr;
    PLM_STREAM* stream = nullptr;
    PLM_RESOURCES* resources = nullptr;
    ASSERT_EQ(plm_ParamsOpen(&params), PLM_OK);
    ASSERT_EQ(plm_ConsoleOpen(0, nullptr, 2, 0, nullptr, nullptr, &console), PLM_OK);
    ASSERT_EQ(plm_StreamOpen(0, &stream), PLM_OK);
    ASSERT_EQ(plm_ResourcesOpen(nullptr, nullptr, &resources), PLM_OK);
    PLM_PARAMS* closed = nullptr;
    ASSERT_EQ(plm_ParamsDuplicate(params, &closed), PLM_OK);
    ASSERT_EQ(plm_ParamsClose(closed), PLM_OK);
    char* table = nullptr;
    ASSERT_EQ(plm_ParamsGetTableHtml(params, &table, nullptr), PLM_OK);
    ASSERT_EQ(plm_FreeText(table), PLM_OK);

    wchar_t buffer[8];
    wmemset(buffer, 0xBDBD, 8);
    size_t cchNeeded = 0xBD, cchOfBadHandle = 0xBD, cbHeader = 0xBD;
    int value = 0xBD, number = 0xBD;
    const wchar_t* text = L"marker";
    const wchar_t *name = text, *paired = text;
    auto ignorePair = [](void*, const wchar_t*, const wchar_t*) {};
    char notOurs[] = "x";
    char* header = notOurs;
    PLM_CONSOLE* refused = console;
    const struct {
        const char* what;
        int status;
        int expected;
    } cases[] = {
        {"null handle", plm_ParamsGetStatus(nullptr, &value), PLM_E_BAD_HANDLE},
        {"closed handle", plm_ParamsGetStatus(closed, &value), PLM_E_BAD_HANDLE},
        {"second close", plm_ParamsClose(closed), PLM_E_BAD_HANDLE},
        {"handle of another kind", plm_ConsoleGetStatus(reinterpret_cast<PLM_CONSOLE*>(params), &value),
         PLM_E_BAD_HANDLE},
        {"made-up handle", plm_StreamWriteInt(reinterpret_cast<PLM_STREAM*>(0x12345679), 1), PLM_E_BAD_HANDLE},
        {"null status out", plm_ConsoleGetStatus(console, nullptr), PLM_E_INVALID_ARG},
        {"null name", plm_ParamsGetValue(params, nullptr, L"f", buffer, 8, &cchNeeded), PLM_E_INVALID_ARG},
        {"null buffer with a size", plm_ParamsGetValue(params, L"n", L"f", nullptr, 8, &cchNeeded), PLM_E_INVALID_ARG},
        {"size whose bytes overflow", plm_ParamsGetValue(params, L"n", L"f", buffer, SIZE_MAX / 2 + 1, &cchNeeded),
         PLM_E_INVALID_ARG},
        {"buffer that wraps the address space",
         plm_ResourcesGetString(resources, CGIRES_SIGN_IN, buffer, SIZE_MAX / sizeof(wchar_t), &cchNeeded),
         PLM_E_INVALID_ARG},
        {"null callback", plm_ParamsEnum(params, nullptr, nullptr), PLM_E_INVALID_ARG},
        {"null special callback", plm_ConsoleEnumSpecialParams(console, L"a", nullptr, nullptr), PLM_E_INVALID_ARG},
        {"null special name",
         plm_ParamsEnumSpecial(
             params, nullptr, [](void*, const wchar_t*) {}, nullptr),
         PLM_E_INVALID_ARG},
        {"null cursor out", plm_ParamsNextPara(params, 1, &name, nullptr), PLM_E_INVALID_ARG},
        {"null table out", plm_ParamsGetTableHtml(params, nullptr, nullptr), PLM_E_INVALID_ARG},
        {"null open out", plm_StreamOpen(0, nullptr), PLM_E_INVALID_ARG},
        {"content kind of no meaning", plm_ConsoleOpen(2, nullptr, PLM_LOGIN_NONE, 0, nullptr, nullptr, &refused),
         PLM_E_INVALID_ARG},
        {"login mode of no meaning", plm_ConsoleOpen(PLM_CONTENT_HTML, nullptr, 3, 0, nullptr, nullptr, &refused),
         PLM_E_INVALID_ARG},
        {"null duplicate out", plm_ConsoleDuplicate(console, nullptr), PLM_E_INVALID_ARG},
        {"null binary data", plm_StreamWriteBinary(stream, nullptr, 4), PLM_E_INVALID_ARG},
        {"binary range that wraps", plm_StreamWriteBinary(stream, reinterpret_cast<const void*>(UINTPTR_MAX - 2), 16),
         PLM_E_INVALID_ARG},
        {"second free of a text", plm_FreeText(table), PLM_E_BAD_HANDLE},
        {"free of a text not handed out", plm_FreeText(notOurs), PLM_E_BAD_HANDLE},
        {"number of a closed handle", plm_ParamsGetIntValue(closed, L"n", 7, &number), PLM_E_BAD_HANDLE},
        {"cursor of a null handle", plm_ParamsNextPara(nullptr, 1, &paired, &paired), PLM_E_BAD_HANDLE},
        {"header of another kind", plm_ConsoleGetHeader(reinterpret_cast<PLM_CONSOLE*>(params), &header, &cbHeader),
         PLM_E_BAD_HANDLE},
        {"text of a null handle", plm_ResourcesGetString(nullptr, 1, buffer, 8, &cchOfBadHandle), PLM_E_BAD_HANDLE},
        {"null text writes nothing", plm_StreamWriteText(stream, nullptr), PLM_OK},
        {"null enumeration with a context", plm_ConsoleEnumParams(console, ignorePair, &value), PLM_OK},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
    // Out values are defined after any refusal; the caller's buffer is not written.
    EXPECT_EQ(value, PLM_E_BAD_HANDLE);
    EXPECT_EQ(buffer[0], static_cast<wchar_t>(0xBDBD)) << "a buffer written by a refused call";
    EXPECT_EQ(cchNeeded + cchOfBadHandle + cbHeader, 0u);
    EXPECT_EQ(number, 7);
    EXPECT_TRUE(name == nullptr && paired == nullptr && header == nullptr && refused == nullptr);

    // Too small, then the size asked for: an empty text first, the whole text then.
    ASSERT_EQ(plm_ParamsGetValue(params, L"no such name", L"fallback", buffer, 3, &cchNeeded), PLM_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cchNeeded, 9u);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], static_cast<wchar_t>(0xBDBD));
    std::wstring fetched(cchNeeded, L'\xBDBD');
    ASSERT_EQ(plm_ParamsGetValue(params, L"no such name", L"fallback", &fetched[0], fetched.size(), nullptr), PLM_OK);
    EXPECT_EQ(fetched, std::wstring(L"fallback", 9));
    EXPECT_EQ(plm_ConsoleLoadResString(console, CGIRES_SIGN_IN, nullptr, 0, &cchNeeded), PLM_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cchNeeded, SampleText(L"en", CGIRES_SIGN_IN).size() + 1);

    // A resource DLL that cannot be used: a status and no handle.
    PLM_CONSOLE* failed = reinterpret_cast<PLM_CONSOLE*>(&text);
    EXPECT_EQ(plm_ConsoleOpen(0, nullptr, 2, 0, nullptr, L"NoSuchResources", &failed), PLM_E_RESOURCE_DLL);
    EXPECT_EQ(failed, nullptr);
    PLM_RESOURCES* noResources = reinterpret_cast<PLM_RESOURCES*>(&text);
    EXPECT_EQ(plm_ResourcesOpen(nullptr, L"SSO_PKIHelper", &noResources), PLM_E_RESOURCE_DLL);
    EXPECT_EQ(noResources, nullptr);

    EXPECT_EQ(plm_ParamsClose(params), PLM_OK);
    EXPECT_EQ(plm_ConsoleClose(console), PLM_OK);
    EXPECT_EQ(plm_StreamClose(stream), PLM_OK);
    EXPECT_EQ(plm_ResourcesClose(resources), PLM_OK);
    EXPECT_EQ(plm::LiveCInterfaceHandles(), liveBefore);
}

TEST(ConsoleStream, HeaderOfItsOwn) {
    CapturedStdout out;
    { plm::CPutStream stream(true); }
    EXPECT_EQ(out.Bytes(), "Pragma: no-cache\r\nContent-type: text/html;charset=utf-8\r\n\r\n");
}

// The shells' implementation object dies with its last owner, exactly once.
class CountedHtml : public plm::CHtmlImpl {
public:
    explicit CountedHtml(int& deaths) : m_deaths(deaths) {}
    ~CountedHtml() override { ++m_deaths; }

private:
    int& m_deaths;
};

// The shells expose no constructor that takes an implementation; place one the
// way the library's own constructors would.
template <typename Shell>
void Attach(Shell& shell, plm::CHtmlImpl* impl) {
    struct Layout {
        void* vtable;
        plm::CHtmlImpl* impl;
    };
    static_assert(sizeof(Shell) == sizeof(Layout), "shell layout");
    reinterpret_cast<Layout*>(&shell)->impl = impl;
}

TEST(HtmlShells, ImplementationReleasedOnce) {
    int deaths = 0;
    {
        plm::CHtmlTable table;
        Attach(table, new CountedHtml(deaths));
        plm::CHtmlTable copy(table);
        plm::CHtmlTable other;
        other = copy;
        other = other;
        copy = plm::CHtmlTable();
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
    {
        plm::CHtmlTable empty;
        plm::CHtmlTable emptyCopy(empty);
    }
    EXPECT_EQ(deaths, 1);
}

}  // namespace
