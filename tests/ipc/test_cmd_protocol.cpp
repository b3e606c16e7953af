// Building and parsing tab-separated command texts.
#include <gtest/gtest.h>

#include <string>

#include "ipc/cmd_Protocol.h"

namespace {

struct Field {
    int start;
    int length;
    std::wstring text;
};

void KeepField(void* user, const wchar_t* text, int start, int length) {
    Field* field = static_cast<Field*>(user);
    field->start = start;
    field->length = length;
    field->text = start >= 0 ? std::wstring(text + start, length) : std::wstring();
}

Field Next(plm::CCmdProtocol& parser) {
    Field field = {-2, -2, L"untouched"};
    parser.NextField(&KeepField, &field);
    return field;
}

TEST(CmdProtocolBuild, EmptyAndNullFieldsKeepTheirSeparators) {
    plm::CCmdProtocol cmd;
    cmd.AddField(L"a").AddField(L"").AddField(nullptr).AddField(L"b");
    EXPECT_EQ(std::wstring(cmd.GetText()), L"a\t\t\tb");
    EXPECT_EQ(cmd.GetLength(), 5);
}

TEST(CmdProtocolBuild, NumbersTable) {
    struct Case {
        bool isSigned;
        long long value;
        const wchar_t* text;
    } cases[] = {
        {true, -5, L"-5"},
        {true, 0, L"0"},
        {true, 2147483647, L"2147483647"},
        {true, -2147483647LL - 1, L"-2147483648"},
        {false, 4294967295LL, L"4294967295"},
        {false, 0, L"0"},
    };
    for (const Case& c : cases) {
        CCmdProtocol cmd;  // the same class outside the namespace
        if (c.isSigned)
            cmd.AddInt(static_cast<int>(c.value));
        else
            cmd.AddUInt(static_cast<unsigned>(c.value));
        EXPECT_EQ(std::wstring(cmd.GetText()), c.text);
    }
}

TEST(CmdProtocolBuild, GivenLengthKeepsEmbeddedNulsAndGrowsPastTheReserve) {
    const wchar_t payload[] = {L'p', L'\0', L'\t', L'q'};
    plm::CCmdProtocol cmd;
    cmd.AddField(L"name").AddField(payload, 4).AddField(L"ignored", 0);
    EXPECT_EQ(std::wstring(cmd.GetText(), cmd.GetLength()), std::wstring(L"name\tp\0\tq\t", 10));

    plm::CCmdProtocol big;
    const std::wstring chunk(700, L'c');
    for (int i = 0; i < 5; ++i) big.AddField(chunk.c_str());
    EXPECT_EQ(big.GetLength(), 5 * 700 + 4);
}

TEST(CmdProtocolParse, FieldsThenIntThenNothing) {
    plm::CCmdProtocol parser(L"x\t12", -1);
    Field f = Next(parser);
    EXPECT_EQ(f.text, L"x");
    EXPECT_EQ(f.start, 0);
    int value = -1;
    parser.NextInt(value);
    EXPECT_EQ(value, 12);
    f = Next(parser);
    EXPECT_EQ(f.start, -1);
    EXPECT_EQ(f.length, -1);
    value = -1;
    parser.NextInt(value);
    EXPECT_EQ(value, 0);
}

TEST(CmdProtocolParse, EmptyFieldAfterFinalTabIsNotReturned) {
    plm::CCmdProtocol parser(L"x\t", -1);
    EXPECT_EQ(Next(parser).text, L"x");
    EXPECT_EQ(Next(parser).start, -1);
}

TEST(CmdProtocolParse, EmptyFieldsInTheMiddleAreReturned) {
    plm::CCmdProtocol parser(L"\t\tz", -1);
    Field f = Next(parser);
    EXPECT_EQ(f.start, 0);
    EXPECT_EQ(f.length, 0);
    f = Next(parser);
    EXPECT_EQ(f.start, 1);
    EXPECT_EQ(f.length, 0);
    EXPECT_EQ(Next(parser).text, L"z");
}

TEST(CmdProtocolParse, ByteLengthTakesHalfAsManyCharacters) {
    const wchar_t text[] = L"ab\tcd\tef";
    plm::CCmdProtocol parser(text, 11);  // 5 characters: an odd byte is not taken
    EXPECT_EQ(parser.GetLength(), 5);
    EXPECT_EQ(Next(parser).text, L"ab");
    EXPECT_EQ(Next(parser).text, L"cd");
    EXPECT_EQ(Next(parser).start, -1);

    plm::CCmdProtocol empty(nullptr, -1);
    EXPECT_EQ(empty.GetLength(), 0);
    EXPECT_EQ(Next(empty).start, -1);
    // A parser over an empty text still builds from scratch: no leading separator.
    empty.AddField(L"f");
    EXPECT_EQ(std::wstring(empty.GetText()), L"f");

    plm::CCmdProtocol full(L"a", -1);
    full.AddField(L"b");
    EXPECT_EQ(std::wstring(full.GetText()), L"a\tb");
}

TEST(CmdProtocolParse, NextIntTable) {
    struct Case {
        const wchar_t* field;
        int value;
    } cases[] = {
        {L"12", 12},
        {L"-5", -5},
        {L"", 0},
        {L"abc", 0},
        {L"7x", 7},
        {L"00000000000000000042", 4},  // 20 characters: the last one is cut off
        {L"0000000000000000004", 4},
    };
    for (const Case& c : cases) {
        plm::CCmdProtocol parser((std::wstring(c.field) + L"\tnext").c_str(), -1);
        int value = -1;
        parser.NextInt(value);
        EXPECT_EQ(value, c.value) << c.field;
        EXPECT_EQ(Next(parser).text, L"next") << c.field;
    }
}

TEST(CmdProtocolParse, NextStringReportsMissingFields) {
    plm::CCmdProtocol parser(L"one\t\tthree", -1);
    std::wstring s = L"marker";
    EXPECT_TRUE(parser.NextString(s));
    EXPECT_EQ(s, L"one");
    EXPECT_TRUE(parser.NextString(s));
    EXPECT_EQ(s, L"");
    EXPECT_TRUE(parser.NextString(s));
    EXPECT_EQ(s, L"three");
    s = L"marker";
    EXPECT_FALSE(parser.NextString(s));
    EXPECT_EQ(s, L"");
}

}  // namespace
