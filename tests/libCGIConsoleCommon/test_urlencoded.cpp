// Query strings and URL-encoded bodies: method dispatch, splitting, decoding,
// the lookups and enumerations, the parameter table and the binary block.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ParamTestSupport.h"

using namespace paramtest;
using plm::CCgiParamList;
using plm::SCgiRequest;

namespace {

const Pairs kNoPairs;
const char kLimitOf1K[] = "1025";

struct RequestCase {
    const char* label;
    const char* method;       // null: absent
    const char* contentType;  // null: absent
    const char* contentLength;
    std::string input;  // the query for GET, the body for POST
    int status;
    bool hasPairArray;
    Pairs pairs;
};

SCgiRequest RequestOf(const RequestCase& c) {
    SCgiRequest request;
    if (c.method) request.method = c.method;
    if (c.contentType) request.contentType = c.contentType;
    if (c.contentLength) request.contentLength = c.contentLength;
    if (c.method && std::string(c.method) == "GET" && !c.input.empty()) request.queryString = c.input;
    return request;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

const RequestCase kRequestCases[] = {
    {"repeated names", "GET", nullptr, nullptr, "a=1&b=2&a=3", 3900, true, {{L"a", L"1"}, {L"b", L"2"}, {L"a", L"3"}}},
    {"percent escapes", "GET", nullptr, nullptr, "x=%41%2b", 3900, true, {{L"x", L"A+"}}},
    {"plus is a space", "GET", nullptr, nullptr, "x=1+2", 3900, true, {{L"x", L"1 2"}}},
    {"plus ends a name", "GET", nullptr, nullptr, "first+name=5", 3900, true, {{L"first", L"name=5"}}},
    {"item without =", "GET", nullptr, nullptr, "flag", 3900, true, {{L"flag", L""}}},
    {"CR LF and empty items", "GET", nullptr, nullptr, "a=1\r\n&&b=2\n", 3900, true, {{L"a", L"1"}, {L"b", L"2"}}},
    {"query of CR LF only", "GET", nullptr, nullptr, "\r\n", 3900, true, {}},
    {"separators only", "GET", nullptr, nullptr, "=&:&\"", 3900, true, {}},
    {"quoted value", "GET", nullptr, nullptr, "q=\"x y\"", 3900, true, {{L"q", L"x y"}}},
    {"percent at the end",
     "GET",
     nullptr,
     nullptr,
     "x=%&y=a%4&z=%%",
     3900,
     true,
     {{L"x", L"%"}, {L"y", L"a%4"}, {L"z", L"%%"}}},
    {"decoded zero byte ends a value", "GET", nullptr, nullptr, "x=a%00b", 3900, true, {{L"x", L"a"}}},
    {"NUL byte in a query", "GET", nullptr, nullptr, std::string("a=1\0b=2", 7), 3900, true, {{L"a", L"1"}}},
    {"UTF-8 name", "GET", nullptr, nullptr, "%C3%A9=1", 3900, true, {{L"\u00e9", L"1"}}},
    {"invalid UTF-8 name", "GET", nullptr, nullptr, "%80x=1&b=2", 3900, true, {{L"<null>", L"1"}, {L"b", L"2"}}},
    {"invalid UTF-8 value", "GET", nullptr, nullptr, "x=%C3", 3900, true, {{L"x", L"<null>"}}},
    {"four-byte UTF-8",
     "GET",
     nullptr,
     nullptr,
     "e=%F0%9F%98%80&y=2",
     3900,
     true,
     {{L"e", L"\xD83D\xDE00"}, {L"y", L"2"}}},
    {"four-byte forms a pair cannot carry",
     "GET",
     nullptr,
     nullptr,
     "a=%F4%90%80%80&b=%F0%8F%BF%BF&c=%F0%9F%98&d=%F5%80%80%80",
     3900,
     true,
     {{L"a", L"<null>"}, {L"b", L"<null>"}, {L"c", L"<null>"}, {L"d", L"<null>"}}},
    {"lone surrogate and overlong forms as before",
     "GET",
     nullptr,
     nullptr,
     "s=%ED%A0%80&o=%C0%AF%E0%80%AF",
     3900,
     true,
     {{L"s", L"\xD800"}, {L"o", L"//"}}},
    {"control bytes and DEL as sent",
     "GET",
     nullptr,
     nullptr,
     "t=a%09b%0D%0Ac%7F",
     3900,
     true,
     {{L"t", L"a\tb\r\nc\x7F"}}},
    {"client items of the library's names",
     "GET",
     nullptr,
     nullptr,
     "TempFileName=%5C%5Ch%5Cs&a=1&tEMPfILEnAME=x&Temp%46ileName=y&TempFileName+z&TempFileName%00q=1&"
     "BinaryDataBlock=C:%5Cw&BINARYDATABLOCK:v",
     3900,
     true,
     {{L"a", L"1"}}},
    {"10 KB name", "GET", nullptr, nullptr, Repeat('n', 10240) + "=v", 3900, true, {{std::wstring(10240, L'n'), L"v"}}},
    {"GET without query", "GET", nullptr, nullptr, "", 3900, false, {}},
    {"no method", nullptr, nullptr, nullptr, "a=1", 4000, false, {}},
    {"PUT", "PUT", nullptr, nullptr, "a=1", 4000, false, {}},
    {"lower-case get", "get", nullptr, nullptr, "a=1", 4000, false, {}},
    {"POST text/plain", "POST", "text/plain", "3", "a=1", 4001, false, {}},
    {"POST without content type", "POST", nullptr, "7", "a=1&b=2", 3900, true, {{L"a", L"1"}, {L"b", L"2"}}},
    {"POST upper-case type",
     "POST",
     "APPLICATION/X-WWW-FORM-URLENCODED; charset=UTF-8",
     "3",
     "a=1",
     3900,
     true,
     {{L"a", L"1"}}},
    {"POST length shorter than body", "POST", nullptr, "3", "a=1&b=2", 3900, true, {{L"a", L"1"}}},
    {"POST length longer than body", "POST", nullptr, "100", "a=1&b=2", 3900, true, {{L"a", L"1"}, {L"b", L"2"}}},
    {"POST length abc", "POST", nullptr, "abc", "a=1", 3900, true, {}},
    {"POST length -1", "POST", nullptr, "-1", "a=1", 3900, true, {}},
    {"POST length with sign", "POST", nullptr, "+3", "a=1", 3900, true, {}},
    {"POST length 2^64", "POST", nullptr, "18446744073709551616", "a=1", 3900, true, {}},
    {"POST length absent", "POST", nullptr, nullptr, "a=1", 3900, true, {}},
    {"POST over the size limit", "POST", nullptr, kLimitOf1K, Repeat('a', 1025), 3900, true, {}},
    {"POST at the size limit",
     "POST",
     nullptr,
     "1024",
     "k=" + Repeat('v', 1022),
     3900,
     true,
     {{L"k", std::wstring(1022, L'v')}}},
};

class RequestTable : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTable, GivesStatusAndPairs) {
    const RequestCase& c = GetParam();
    MemoryInput input(c.input);
    plm::SCgiLimits limits;
    limits.maxPostSizeK = 1;
    CCgiParamList list;
    plm::ParseRequest(RequestOf(c), input, limits, list);
    EXPECT_EQ(c.status, list.Status());
    EXPECT_EQ(c.hasPairArray, list.HasPairArray());
    EXPECT_EQ(c.pairs, PairsOf(list));
    uint64_t announced = plm::ParseContentLength(RequestOf(c).contentLength);
    if (c.method && std::string(c.method) == "POST" && announced > 1024) announced = 0;  // over the limit: unread
    EXPECT_LE(input.Consumed(), announced);
}

INSTANTIATE_TEST_SUITE_P(Cases, RequestTable, ::testing::ValuesIn(kRequestCases), CaseName<RequestCase>);

CCgiParamList ParseQuery(const std::string& query) {
    SCgiRequest request;
    request.method = "GET";
    request.queryString = query;
    MemoryInput input("");
    CCgiParamList list;
    plm::ParseRequest(request, input, plm::SCgiLimits(), list);
    return list;
}

std::vector<std::wstring> g_seen;
bool* RecordPair(const wchar_t* name, const wchar_t* value) {
    g_seen.push_back(std::wstring(name) + L"=" + value);
    return nullptr;
}
bool* RecordValue(const wchar_t* value) {
    g_seen.push_back(value);
    return nullptr;
}

TEST(Lookups, MatchNamesWithoutCaseAndReportEveryMatchInOrder) {
    CCgiParamList list = ParseQuery("a=1&b=2&A=3&ab=4");
    ASSERT_NE(nullptr, list.FindValue(L"A"));
    EXPECT_STREQ(L"1", list.FindValue(L"A"));
    EXPECT_EQ(nullptr, list.FindValue(L"c"));
    g_seen.clear();
    list.EnumSpecialParaCallBack(L"a", RecordValue);
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"3"}), g_seen);
    g_seen.clear();
    list.EnumParaCallBack(RecordPair);
    EXPECT_EQ((std::vector<std::wstring>{L"a=1", L"b=2", L"A=3", L"ab=4"}), g_seen);
}

TEST(Lookups, StopAtANullNameAndEnumerationAtANullValue) {
    CCgiParamList list = ParseQuery("a=1&b=%C3&%80=2&c=3");
    EXPECT_NE(nullptr, list.FindValue(L"a"));
    EXPECT_EQ(nullptr, list.FindValue(L"b"));  // matched, but its value is null
    EXPECT_EQ(nullptr, list.FindValue(L"c"));  // behind the null name
    g_seen.clear();
    list.EnumParaCallBack(RecordPair);
    EXPECT_EQ((std::vector<std::wstring>{L"a=1"}), g_seen);
    const wchar_t* name = L"marker";
    const wchar_t* value = L"marker";
    EXPECT_FALSE(list.GetNextPara(name, value, false));
    EXPECT_EQ(nullptr, value);
}

CCgiParamList* g_list = nullptr;
bool* RecordAndTakeNext(const wchar_t* name, const wchar_t* value) {
    RecordPair(name, value);
    const wchar_t* taken = nullptr;
    if (g_seen.size() == 1) g_list->GetNextPara(taken, taken, false);
    return nullptr;
}

TEST(Lookups, CursorAdvancesAndResets) {
    CCgiParamList list = ParseQuery("a=1&b=2");
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    ASSERT_TRUE(list.GetNextPara(name, value, true));
    EXPECT_STREQ(L"a", name);
    ASSERT_TRUE(list.GetNextPara(name, value, false));
    EXPECT_STREQ(L"2", value);
    EXPECT_FALSE(list.GetNextPara(name, value, false));
    list.EnumParaCallBack(nullptr);  // no calls, the cursor back at the first pair
    ASSERT_TRUE(list.GetNextPara(name, value, false));
    EXPECT_STREQ(L"1", value);
    // The pair a callback takes with GetNextPara is not visited again.
    CCgiParamList four = ParseQuery("a=1&b=2&c=3&d=4");
    g_list = &four;
    g_seen.clear();
    four.EnumParaCallBack(RecordAndTakeNext);
    EXPECT_EQ((std::vector<std::wstring>{L"a=1", L"c=3", L"d=4"}), g_seen);
}

TEST(ParamTable, RowsPerPairWithNamesAndValuesEscaped) {
    std::string headerOnly = ParseQuery("\r\n").ParaTableHtml();
    EXPECT_EQ(3, std::count(headerOnly.begin(), headerOnly.end(), '\n'));
    std::string html = ParseQuery("a=1&b=2").ParaTableHtml();
    EXPECT_EQ(0u, html.find("<table border=\"1\" width=\"40%\">\n<tr>"));
    EXPECT_EQ(5, std::count(html.begin(), html.end(), '\n'));
    EXPECT_NE(std::string::npos,
              html.find("<tr><td width=\"40%\"><b><font size=\"2\" face=\"Arial\">b</font></b></td>"
                        "<td width=\"60%\"><b><font size=\"2\" face=\"Arial\">2</font></b></td></tr>\n</table>\n"));
    std::string hostile = ParseQuery("%3Cs%3E=%26%22%27%3C%2Fb%3E%C3%A9").ParaTableHtml();
    EXPECT_NE(std::string::npos, hostile.find(">&lt;s&gt;</font>"));
    EXPECT_NE(std::string::npos, hostile.find(">&amp;&quot;&#39;&lt;/b&gt;\xC3\xA9</font>"));
    CCgiParamList noArray;
    EXPECT_EQ("", noArray.ParaTableHtml());
}

TEST(UrlEncodedPost, BinaryModeFailureIs3901) {
    MemoryInput input("a=1", 0, false);
    CCgiParamList list;
    plm::ParseRequest(Post("application/x-www-form-urlencoded", "3"), input, plm::SCgiLimits(), list);
    EXPECT_EQ(3901, list.Status());
    EXPECT_EQ(0u, input.Consumed());
}

// Any standard exception (a length_error for a size a 32-bit process cannot
// hold, as well as bad_alloc) ends the parse with 3902 and no pairs.
TEST(UrlEncodedPost, StandardExceptionsAre3902WithoutPairs) {
    struct ThrowingInput : plm::ICgiInput {
        bool SwitchToBinary() override { return true; }
        size_t Read(void*, size_t) override { throw std::length_error("basic_string::_M_create"); }
    } input;
    CCgiParamList list;
    plm::ParseRequest(Post("application/x-www-form-urlencoded", "3"), input, plm::SCgiLimits(), list);
    EXPECT_EQ(3902, list.Status());
    EXPECT_FALSE(list.HasPairArray());
}

TEST(UrlEncodedPost, BinaryDataBlockGoesToATempFileByteForByte) {
    ServerDir server(L"binblock");
    const std::string block("\0\x01+&\r\nrest", 10);
    const std::string body = "a=1&BinaryDataBlock=&" + block;
    MemoryInput input(body);
    CCgiParamList list;
    plm::ParseRequest(Post("application/x-www-form-urlencoded", std::to_string(body.size())), input, server.Limits(),
                      list);
    ASSERT_EQ(2u, list.PairCount());
    EXPECT_EQ(L"a", *list.Name(0));
    EXPECT_EQ(L"BinaryDataBlock", *list.Name(1));
    const std::wstring fileName = *list.Value(1);
    EXPECT_EQ(0u, fileName.find(L"Cfw"));
    EXPECT_EQ(block, testsupport::ReadFileBytes(server.Folder() + L"Temp\\" + fileName));
    // Without a server folder the block is written nowhere.
    MemoryInput again(body);
    CCgiParamList refused;
    plm::ParseRequest(Post("application/x-www-form-urlencoded", std::to_string(body.size())), again, plm::SCgiLimits(),
                      refused);
    EXPECT_EQ(3903, refused.Status());
    {  // a block the page never received goes with the list
        MemoryInput unread(body);
        CCgiParamList dropped;
        plm::ParseRequest(Post("application/x-www-form-urlencoded", std::to_string(body.size())), unread,
                          server.Limits(), dropped);
    }
    EXPECT_EQ(std::vector<std::wstring>{fileName}, server.TempFiles());
}

TEST(UrlEncodedPost, MarkerFollowedByMoreItemsIsAClientItem) {
    ServerDir server(L"binblock2");
    const std::string body = "BinaryDataBlock=&b=2";
    MemoryInput input(body);
    CCgiParamList list;
    plm::ParseRequest(Post("application/x-www-form-urlencoded", std::to_string(body.size())), input, server.Limits(),
                      list);
    EXPECT_EQ((Pairs{{L"b", L"2"}}), PairsOf(list));
    EXPECT_TRUE(server.TempFiles().empty());
}

}  // namespace
