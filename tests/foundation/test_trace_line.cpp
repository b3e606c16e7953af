// What a channel writes into a record: prefix, message, level, file, line, time.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "TestSupport.h"
#include "TraceTestSupport.h"

using tracetest::FakeSink;
using tracetest::OwnExeName;

namespace {

const std::wstring kOwnVersion = L"1.0.0.1045";  // from this folder's version.rc

TEST(TraceLine, AgentPrefixIsTagAndExeName) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(L"PLS_WDX");
    channel.Write(8, L".\\WDXPatchAgent", 12, L"[StartAction] >>>");
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].text, L"[PLS_WDX][" + OwnExeName() + L"][StartAction] >>>");
}

TEST(TraceLine, FrameworkPrefixHasEmptyTagAndFileVersion) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kFramework, sink);
    channel.Write(5, L".\\pipe_Util", 1, L"msg");
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].text, L"[][" + OwnExeName() + L":" + kOwnVersion + L"]msg");
}

TEST(TraceLine, RecordCarriesLevelFileLineIdsAndTime) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    const int before = static_cast<int>(std::time(nullptr));
    channel.Write(0x44, L"..\\libCGIConsoleCommon\\cgi_ConsoleCommon", 146, L"x");
    const int after = static_cast<int>(std::time(nullptr));
    ASSERT_EQ(sink.sent.size(), 1u);
    const tracetest::SentRecord& r = sink.sent[0];
    EXPECT_EQ(r.level, 68);
    EXPECT_EQ(r.sourceFile, L"..\\libCGIConsoleCommon\\cgi_ConsoleCommon");
    EXPECT_EQ(r.line, 146);
    EXPECT_EQ(r.processId, GetCurrentProcessId());
    EXPECT_EQ(r.threadId, GetCurrentThreadId());
    EXPECT_GE(r.time, before);
    EXPECT_LE(r.time, after);
}

TEST(TraceLine, LevelsAreNeverFiltered) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    const int levels[] = {0, 5, 6, 8, 68, 69, 70, 73, 87, -1, 0x7FFFFFFF};
    for (int level : levels) channel.Write(level, L"f", 1, L"x");
    ASSERT_EQ(sink.sent.size(), sizeof levels / sizeof levels[0]);
    for (size_t i = 0; i < sink.sent.size(); ++i) EXPECT_EQ(sink.sent[i].level, levels[i]);
}

TEST(TraceLine, FormatsWideStringsAndNumbersTheMicrosoftWay) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(L"T");
    channel.Write(5, L"f", 1, L"%s|%d|%u|%x|%X|%s", L"wide", -5, 4294967295u, 255u, 255u, L"\u00e9\u4e2d");
    ASSERT_EQ(sink.sent.size(), 1u);
    const std::wstring& text = sink.sent[0].text;
    EXPECT_EQ(text.substr(text.find(L']', 3) + 1), L"wide|-5|4294967295|ff|FF|\u00e9\u4e2d");
}

TEST(TraceLine, LongMessageIsCutTo4095Characters) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(L"PLS_WDX");
    const std::wstring message(10000, L'm');
    channel.Write(5, L"f", 1, L"%s", message.c_str());
    ASSERT_EQ(sink.sent.size(), 1u);
    const std::wstring& text = sink.sent[0].text;
    EXPECT_EQ(text.size(), 4095u);
    const std::wstring prefix = L"[PLS_WDX][" + OwnExeName() + L"]";
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(text.find_first_not_of(L'm', prefix.size()), std::wstring::npos);
}

TEST(TraceLine, MessageExactlyFillingTheLineIsKept) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(L"PLS_WDX");
    const size_t cchPrefix = 4 + 7 + OwnExeName().size();
    const std::wstring message(4095 - cchPrefix, L'k');
    channel.Write(5, L"f", 1, L"%s", message.c_str());
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].text.size(), 4095u);
    EXPECT_EQ(sink.sent[0].text.back(), L'k');
}

TEST(TraceLine, TagPassesThroughTheAnsiCodePage) {
    struct Case {
        std::wstring tag;
        std::wstring expected;
    } cases[] = {
        {L"PLS_WDX", L"PLS_WDX"},
        {L"", L""},
        {std::wstring(1023, L't'), std::wstring(1023, L't')},  // fits 1024 bytes with its NUL
        {std::wstring(1024, L't'), L""},                       // does not fit: no tag rather than a cut one
    };
    for (const Case& c : cases) {
        FakeSink sink;
        TraceChannel channel(TraceChannel::kAgent, sink);
        channel.Init(c.tag.c_str());
        EXPECT_EQ(std::wstring(channel.Tag()), c.expected) << c.tag.size();
    }
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(nullptr);
    EXPECT_STREQ(channel.Tag(), L"");
}

TEST(TraceLine, TraceCallKeepsTheCallersLastError) {
    FakeSink sink;
    sink.result = false;
    TraceChannel channel(TraceChannel::kAgent, sink);
    SetLastError(1234);
    channel.Write(5, L"f", 1, L"err=%d", 1234);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(TraceLine, NullFormatSendsThePrefixOnly) {
    FakeSink sink;
    TraceChannel channel(TraceChannel::kAgent, sink);
    channel.Init(L"A");
    channel.Write(5, L"f", 1, nullptr);
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(sink.sent[0].text, L"[A][" + OwnExeName() + L"]");
}

// --- process labels -----------------------------------------------------------

std::string NarrowPathOf(const std::wstring& path) {
    char narrow[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
    return narrow;
}

std::wstring LabelOf(const char* path, bool withVersion) {
    wchar_t label[TraceChannel::kLabelChars];
    TraceLabel::Make(path, withVersion, label, TraceChannel::kLabelChars);
    return label;
}

TEST(TraceLabel, NameAndVersionTable) {
    const std::string ownExe = NarrowPathOf(testsupport::ExeDir() + L"\\" + OwnExeName());
    const std::string dll = NarrowPathOf(testsupport::ExeDir() + L"\\WDXPatchAgent.dll");
    testsupport::TempDir dir(L"label");
    const std::wstring plain = dir.Join(L"Plain.exe");
    testsupport::WriteFileText(plain, "MZ not really a program");
    const std::string plainPath = NarrowPathOf(plain);

    struct Case {
        const char* path;
        bool withVersion;
        std::wstring expected;
    } cases[] = {
        {ownExe.c_str(), true, OwnExeName() + L":" + kOwnVersion},  // via the 040904E4 fallback
        {ownExe.c_str(), false, OwnExeName()},
        {dll.c_str(), true, L"WDXPatchAgent.dll:1.0.0.1045"},  // via the listed translation
        {plainPath.c_str(), true, L"Plain.exe"},               // no version resource
        {"C:\\no\\such\\Name.exe", true, L"Name.exe"},
        {"Setup.exe", true, L"Setup.exe"},  // no backslash: the whole name
        {"C:\\dir\\", true, L""},
        {"", true, L""},
        {nullptr, true, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        EXPECT_EQ(LabelOf(c.path, c.withVersion), c.expected);
    }
}

TEST(TraceLabel, KeepsAtMost32CharactersOfTheVersion) {
    const std::wstring other = testsupport::ExeDir() + L"\\test_ipc.exe";  // has a long FileVersion
    if (!testsupport::FileExists(other)) GTEST_SKIP() << "test_ipc.exe not built";
    const std::string path = NarrowPathOf(other);
    const std::wstring version = L"3.2.1.0 (label cut check: only the first 32 characters count)";
    EXPECT_EQ(LabelOf(path.c_str(), true), L"test_ipc.exe:" + version.substr(0, 32));
}

TEST(TraceLabel, SmallLabelBufferIsNeverOverrun) {
    wchar_t label[8];
    wmemset(label, L'\xBDBD', 8);
    TraceLabel::Make("C:\\x\\LongerName.exe", false, label, 5);
    EXPECT_STREQ(label, L"Long");
    EXPECT_EQ(label[5], L'\xBDBD');
}

}  // namespace
