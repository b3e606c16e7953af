// multipart/form-data bodies: fields, uploads into temporary files, limits,
// and bodies that are cut short or malformed.
#include <gtest/gtest.h>

#include "ParamTestSupport.h"

using namespace paramtest;
using plm::CCgiParamList;

namespace {

const char kType[] = "multipart/form-data; boundary=XyZ";

struct Parsed {
    CCgiParamList list;
    size_t consumed = 0;
};

Parsed ParseBody(const ServerDir& server, const std::string& body, const std::string& contentType = kType,
                 const std::string& contentLength = "", size_t chunk = 0, const plm::SCgiLimits* limits = nullptr) {
    Parsed parsed;
    MemoryInput input(body, chunk);
    plm::ParseRequest(Post(contentType, contentLength.empty() ? std::to_string(body.size()) : contentLength), input,
                      limits ? *limits : server.Limits(), parsed.list);
    parsed.consumed = input.Consumed();
    return parsed;
}

TEST(Multipart, TextFieldFileFieldAndEmptyField) {
    ServerDir server(L"mp_basic");
    const std::string data("bin\0\r\n--XY\r\n-data", 17);
    std::string body = MultipartBody("XyZ", {{"comment", "hello"}, {"upload", data, true}, {"empty", ""}});
    for (size_t chunk : {0u, 1u, 7u}) {
        Parsed parsed = ParseBody(server, body, kType, "", chunk);
        EXPECT_EQ(3900, parsed.list.Status());
        Pairs pairs = PairsOf(parsed.list);
        ASSERT_EQ(3u, pairs.size()) << "chunk " << chunk;
        EXPECT_EQ((std::make_pair(std::wstring(L"comment"), std::wstring(L"hello"))), pairs[0]);
        EXPECT_EQ(L"upload", pairs[1].first);
        EXPECT_EQ(L"TempFileName", pairs[2].first);
        EXPECT_EQ(pairs[1].second, pairs[2].second);
        EXPECT_EQ(0u, pairs[1].second.find(server.Folder() + L"\\TEMP\\KPS"));
        EXPECT_EQ(data, testsupport::ReadFileBytes(pairs[1].second));
        server.ClearTemp();
    }
    // The client's TempFileName part and field name are dropped; of the files,
    // only the one whose path the page received outlives the list.
    std::wstring received;
    {
        Parsed parsed = ParseBody(
            server, MultipartBody("XyZ", {{"TempFileName", "C:\\x"}, {"a", "1", true}, {"tempfilename", "2", true}}));
        EXPECT_EQ(3u, PairsOf(parsed.list).size());
        parsed.list.EnumParaCallBack(nullptr);  // hands nothing to the page
        received = parsed.list.FindValue(L"a");
        const wchar_t* library = parsed.list.FindValue(L"tEMPfILEnAME");  // the library's own pair, any case
        EXPECT_EQ(received, library ? library : L"(none)");
    }
    EXPECT_EQ(std::vector<std::wstring>{received.substr(received.rfind(L'\\') + 1)}, server.TempFiles());
}

// Part sizes around the 4096-byte buffer: the delimiter and its CR LF straddle
// reads at every offset, and stale buffer bytes never join the data.
TEST(Multipart, DataAroundTheBufferSizeArrivesWhole) {
    ServerDir server(L"mp_sizes");
    for (size_t size = 3700; size <= 4200; ++size) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = "\r\n-XyZ"[(i * 7 + size) % 6];
        std::string body = MultipartBody("XyZ", {{"f", data, true}, {"t", "short"}});
        Parsed parsed = ParseBody(server, body);
        Pairs pairs = PairsOf(parsed.list);
        ASSERT_EQ(3u, pairs.size()) << "size " << size;
        ASSERT_EQ(data, testsupport::ReadFileBytes(pairs[0].second)) << "size " << size;
        EXPECT_EQ(L"short", pairs[2].second);
        server.ClearTemp();
    }
}

TEST(Multipart, BodyCutInsideAPartKeepsEarlierPartsAndDropsItsFile) {
    ServerDir server(L"mp_cut");
    std::string full = MultipartBody("XyZ", {{"a", "1"}, {"f", std::string(9000, 'x'), true}, {"b", "2"}});
    size_t cut = full.find("xxxx") + 5000;
    struct {
        std::string body, length;
    } variants[] = {
        {full.substr(0, cut), std::to_string(full.size())},  // fewer bytes than announced
        {full, std::to_string(cut)},                         // the boundary never comes
        {full.substr(0, full.find("\r\n--XyZ\r\nContent-Disposition: form-data; name=\"b\"") + 3),
         ""},  // cut inside the delimiter
    };
    for (const auto& v : variants) {
        Parsed parsed = ParseBody(server, v.body, kType, v.length);
        EXPECT_EQ(3900, parsed.list.Status());
        EXPECT_EQ((Pairs{{L"a", L"1"}}), PairsOf(parsed.list));
        EXPECT_TRUE(server.TempFiles().empty());
    }
}

HANDLE FailOpen(const wchar_t*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// The file is made, but every write to it fails (as on a full disk).
HANDLE CreateUnwritable(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

// An upload that cannot be stored whole fails the request (3903): no pairs and
// no file left. (Files of earlier parts: the flood case of the framing table.)
TEST(Multipart, UploadThatCannotBeStoredIs3903AndLeavesNoFiles) {
    ServerDir server(L"mp_nostore");
    std::string injected = "x\r\nContent-Disposition: form-data; name=\"evil\"\r\n\r\ninjected";
    std::string body = MultipartBody("XyZ", {{"f", injected, true}, {"after", "ok"}});
    const struct {
        const char* what;
        plm::CreateTempFileFn create;
        bool withFolder;
    } cases[] = {{"file cannot be made", &FailOpen, true},
                 {"writes fail", &CreateUnwritable, true},
                 {"no server folder", nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plm::SCgiLimits limits = server.Limits();
        limits.openPartFile = c.create;
        if (!c.withFolder) limits.serverFolder.clear();
        Parsed parsed = ParseBody(server, body, kType, "", 0, &limits);
        EXPECT_EQ(3903, parsed.list.Status());
        EXPECT_FALSE(parsed.list.HasPairArray());
        EXPECT_TRUE(server.TempFiles().empty());
    }
}

TEST(Multipart, NoTempFileNameIs3903WithoutPairs) {
    ServerDir server(L"mp_notemp");
    RemoveDirectoryW(server.TempFolder().c_str());
    Parsed parsed = ParseBody(server, MultipartBody("XyZ", {{"a", "1"}, {"f", "data", true}}));
    EXPECT_EQ(3903, parsed.list.Status());
    EXPECT_FALSE(parsed.list.HasPairArray());
}

struct TextCase {
    const char* label;
    std::string name;
    std::string value;
    std::wstring expectName;
    std::wstring expectValue;
};

const TextCase kTextCases[] = {
    {"text area as sent", "area", "line1\r\nline2 \"q\" 100% a=b:c &+", L"area", L"line1\r\nline2 \"q\" 100% a=b:c &+"},
    {"name with separators", "a b=c:d%e", "v", L"a b=c:d%e", L"v"},
    {"UTF-8 name and value", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC 5", L"\u00e9t\u00e9", L"\u20ac 5"},
    {"four-byte UTF-8", "e", "\xF0\x9F\x98\x80!", L"e", L"\xD83D\xDE00!"},
    {"300 bytes cut to 259", "long", std::string(300, 'v'), L"long", std::wstring(259, L'v')},
    {"cut keeps whole characters", "long",
     [] {
         std::string s;
         for (int i = 0; i < 150; ++i) s += "\xC3\xA9";
         return s;
     }(),
     L"long", std::wstring(129, L'\u00e9')},
    {"zero byte ends a value", "z", std::string("ab\0cd", 5), L"z", L"ab"},
    {"255-byte name limit", std::string(300, 'n'), "v", std::wstring(255, L'n'), L"v"},
};

class TextFields : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextFields, ArriveExactlyAsSentWithinTheBuffer) {
    ServerDir server(L"mp_text");
    const TextCase& c = GetParam();
    Parsed parsed = ParseBody(server, MultipartBody("XyZ", {{c.name, c.value}}));
    EXPECT_EQ((Pairs{{c.expectName, c.expectValue}}), PairsOf(parsed.list));
}

INSTANTIATE_TEST_SUITE_P(Cases, TextFields, ::testing::ValuesIn(kTextCases), CaseName<TextCase>);

TEST(Multipart, TextThatIsNotUtf8IsReadInTheAnsiCodePage) {
    ServerDir server(L"mp_ansi");
    Parsed parsed = ParseBody(server, MultipartBody("XyZ", {{"n", "caf\xE9"}}));
    wchar_t expected[8] = {};
    MultiByteToWideChar(CP_ACP, 0, "caf\xE9", 4, expected, 8);
    EXPECT_EQ((Pairs{{L"n", expected}}), PairsOf(parsed.list));
}

struct FramingCase {
    const char* label;
    std::string contentType;
    std::string body;
    std::string contentLength;  // empty: the body's size
    int status;
    Pairs pairs;
};

std::string TinyFileParts(int count) {
    std::vector<Part> parts(static_cast<size_t>(count), Part{"f", "x", true});
    return MultipartBody("XyZ", parts);
}

std::string ManyEmptyParts() {
    std::string body;
    for (int i = 0; i < 10000; ++i) body += "--XyZ\r\nContent-Disposition: form-data; name=\"e\"\r\n\r\n\r\n";
    return body + "--XyZ\r\nContent-Disposition: form-data; name=\"last\"\r\n\r\n1\r\n--XyZ--\r\n";
}

const FramingCase kFramingCases[] = {
    {"quoted boundary",
     "multipart/form-data; boundary=\"q u\"; charset=utf-8",
     MultipartBody("q u", {{"a", "1"}}),
     "",
     3900,
     {{L"a", L"1"}}},
    {"parameter after boundary",
     "multipart/form-data; boundary=XyZ; charset=utf-8",
     MultipartBody("XyZ", {{"a", "1"}}),
     "",
     3900,
     {{L"a", L"1"}}},
    {"parameter before boundary",
     "Multipart/Form-Data; charset=utf-8; BOUNDARY=XyZ",
     MultipartBody("XyZ", {{"a", "1"}}),
     "",
     3900,
     {{L"a", L"1"}}},
    {"missing boundary", "multipart/form-data", MultipartBody("XyZ", {{"a", "1"}}), "", 3900, {}},
    {"length abc", kType, MultipartBody("XyZ", {{"a", "1"}}), "abc", 3900, {}},
    {"length -1", kType, MultipartBody("XyZ", {{"a", "1"}}), "-1", 3900, {}},
    {"over the upload limit", kType, MultipartBody("XyZ", {{"a", "1"}}), "67108865", 3902, {}},
    {"header without its blank line",
     kType,
     "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\nvalue\r\n--XyZ--\r\n",
     "",
     3900,
     {}},
    {"10 KB name stops at that part",
     kType,
     MultipartBody("XyZ", {{"a", "1"}, {std::string(10240, 'n'), "v"}, {"b", "2"}}),
     "",
     3900,
     {{L"a", L"1"}}},
    {"10,000 empty parts", kType, ManyEmptyParts(), "", 3900, {{L"last", L"1"}}},
    {"5,000 tiny file parts", kType, TinyFileParts(5000), "", 3902, {}},
    {"epilogue after the closing delimiter",
     kType,
     MultipartBody("XyZ", {{"a", "1"}}) + "Content-Disposition: form-data; name=\"x\"\r\n\r\nno\r\n--XyZ--",
     "",
     3900,
     {{L"a", L"1"}}},
    {"empty body", kType, "", "", 3900, {}},
    {"header line the scan does not know",
     kType,
     "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
     "x\r\nContent-Disposition: form-data; name=\"evil\"\r\n\r\nno\r\n--XyZ--\r\n",
     "",
     3900,
     {{L"a", L"x\r\nContent-Disposition: form-data; name=\"evil\"\r\n\r\nno"}}},
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, GivesStatusAndPairsWithoutReadingPastTheLength) {
    ServerDir server(L"mp_framing");
    const FramingCase& c = GetParam();
    Parsed parsed = ParseBody(server, c.body + "trailing bytes", c.contentType,
                              c.contentLength.empty() ? std::to_string(c.body.size()) : c.contentLength);
    EXPECT_EQ(c.status, parsed.list.Status());
    EXPECT_EQ(c.pairs, PairsOf(parsed.list));
    EXPECT_LE(parsed.consumed, c.body.size());
    EXPECT_TRUE(server.TempFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Framing, ::testing::ValuesIn(kFramingCases), CaseName<FramingCase>);

TEST(Multipart, UploadLimitDefaultsTo64MWhenNotPositive) {
    ServerDir server(L"mp_limit");
    plm::SCgiLimits limits = server.Limits();
    limits.maxUploadSizeM = 0;
    EXPECT_EQ(3902, ParseBody(server, "", kType, "67108865", 0, &limits).list.Status());
    EXPECT_EQ(3900, ParseBody(server, "", kType, "67108864", 0, &limits).list.Status());
    limits.maxUploadSizeM = 1;
    EXPECT_EQ(3902, ParseBody(server, "", kType, "1048577", 0, &limits).list.Status());
}

TEST(Multipart, BinaryModeFailureIs3901) {
    ServerDir server(L"mp_binary");
    MemoryInput input(MultipartBody("XyZ", {{"a", "1"}}), 0, false);
    CCgiParamList list;
    plm::ParseRequest(Post(kType, "100"), input, server.Limits(), list);
    EXPECT_EQ(3901, list.Status());
    EXPECT_EQ(0u, input.Consumed());
}

TEST(Multipart, UploadedPathWithPercentAndSpacesSurvivesDecoding) {
    ServerDir server(L"mp 100%");
    Parsed parsed = ParseBody(server, MultipartBody("XyZ", {{"f", "d", true}}));
    ASSERT_EQ(2u, parsed.list.PairCount());
    EXPECT_EQ(0u, parsed.list.Value(0)->find(server.Folder() + L"\\TEMP\\KPS"));
    EXPECT_EQ("d", testsupport::ReadFileBytes(*parsed.list.Value(0)));
}

}  // namespace

namespace {

// Sets a file's times to now minus the given seconds (negative: ahead).
void DateFile(const std::wstring& path, LONGLONG secondsAgo) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= static_cast<ULONGLONG>(secondsAgo * 10000000);
    const FILETIME then{t.LowPart, t.HighPart};
    testsupport::WriteFileText(path, "u");
    const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, &then, &then, &then));
    CloseHandle(file);
}

}  // namespace

// The sweep (bound an hour) and the budget judge each upload through its own
// handle: the clock's edges, and a hard link is never taken for an upload.
TEST(Multipart, SweepAndBudgetJudgeUploadsAsThemselves) {
    ServerDir server(L"mp_sweep");
    const std::wstring temp = server.TempFolder() + L"\\";
    const std::wstring target = server.Folder() + L"settings.ini";
    const struct {
        const wchar_t* name;
        LONGLONG secondsAgo;
        bool swept;
    } uploads[] = {
        {L"KPS00000001.tmp", 3600 + 5, true},    {L"KPS00000002.tmp", 3600 - 5, false},
        {L"KPS00000003.tmp", -(300 - 5), false}, {L"KPS00000004.tmp", -(300 + 5), true},
        {L"Cfw00000005.tmp", -20 * 86400, true}, {L"KPS00000006.tmp", 7200, false},  // a hard link
    };
    for (const auto& u : uploads) DateFile(temp + u.name, u.secondsAgo);
    DeleteFileW((temp + L"KPS00000006.tmp").c_str());
    testsupport::WriteFileText(target, "keep");
    ASSERT_TRUE(CreateHardLinkW((temp + L"KPS00000006.tmp").c_str(), target.c_str(), nullptr));
    EXPECT_EQ(3, plm::SweepOldUploads(server.TempFolder(), 3600000u));
    for (const auto& u : uploads) EXPECT_EQ(testsupport::FileExists(temp + u.name), !u.swept) << u.secondsAgo;
    // A budget of 2 files: the oldest upload goes first, the link counts for nothing.
    plm::SCgiLimits limits = server.Limits();
    limits.uploadBudget.maxFiles = 2;
    const std::string body = MultipartBody("XyZ", {{"f", "x", true}});
    EXPECT_EQ(3900, ParseBody(server, body, kType, "", 0, &limits).list.Status());
    EXPECT_FALSE(testsupport::FileExists(temp + L"KPS00000002.tmp"));
    EXPECT_TRUE(testsupport::FileExists(temp + L"KPS00000003.tmp"));
    EXPECT_TRUE(testsupport::FileExists(temp + L"KPS00000006.tmp"));
    EXPECT_EQ("keep", testsupport::ReadFileBytes(target));
    // More files than the budget holds, or more bytes: 3902 and nothing left.
    limits.uploadBudget = {1, 1};
    EXPECT_EQ(3902, ParseBody(server, MultipartBody("XyZ", {{"f", "x", true}, {"g", "y", true}}), kType, "", 0, &limits)
                        .list.Status());
    EXPECT_EQ(3902, ParseBody(server, body, kType, "1048577", 0, &limits).list.Status());
    EXPECT_EQ(std::vector<std::wstring>{L"KPS00000006.tmp"}, server.TempFiles());
    const std::pair<int, int> lives[] = {{0, 3600}, {-5, 3600}, {1, 60}, {59, 60}, {61, 61}, {86401, 86400}};
    for (const auto& life : lives) EXPECT_EQ(life.second, plm::UploadLifeSeconds(life.first)) << life.first;
}
