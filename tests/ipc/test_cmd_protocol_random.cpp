// 100,000 random command texts through the parser, and random field lists
// through the builder and back. A failing round prints the seed and the text
// (WDX_FUZZ_SEED repeats the run).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ipc/cmd_Protocol.h"

namespace {

const int kRounds = 100000;

// TAB most often, then what number fields and texts are made of, NUL and
// code units outside ASCII (a lone surrogate among them).
const wchar_t kAlphabet[] = {L'\t', L'\t', L'\t', L'\t', L'0', L'1',  L'7',      L'9',      L'-',      L'+',
                             L' ',  L'\n', L'a',  L'Z',  L'.', L'\0', L'\u00e9', L'\u4e2d', L'\xd83d', L'\xffff'};

std::wstring RandomText(std::mt19937& rng, size_t maxLength, bool withTabs) {
    std::wstring text(rng() % (maxLength + 1), L'a');
    for (wchar_t& c : text) {
        do {
            c = kAlphabet[rng() % (sizeof kAlphabet / sizeof kAlphabet[0])];
        } while (!withTabs && c == L'\t');
        // Now and then a run of digits long enough to overflow.
        if (c == L'9' && rng() % 8 == 0) c = L'0' + static_cast<wchar_t>(rng() % 10);
    }
    return text;
}

struct Field {
    int start = -2;
    int length = -2;
    std::wstring text;
};

void KeepField(void* user, const wchar_t* text, int start, int length) {
    Field* field = static_cast<Field*>(user);
    field->start = start;
    field->length = length;
    field->text = start >= 0 ? std::wstring(text + start, static_cast<size_t>(length)) : std::wstring();
}

// Every field the parser hands out, until it reports none (at most limit reads).
std::vector<std::wstring> AllFields(plm::CCmdProtocol& parser, size_t limit) {
    std::vector<std::wstring> fields;
    for (size_t i = 0; i < limit; ++i) {
        Field field;
        parser.NextField(&KeepField, &field);
        if (field.start < 0) {
            EXPECT_EQ(-1, field.start);
            EXPECT_EQ(-1, field.length);
            return fields;
        }
        EXPECT_GE(field.length, 0);
        fields.push_back(field.text);
    }
    ADD_FAILURE() << "the parser did not run out of fields";
    return fields;
}

std::wstring Join(const std::vector<std::wstring>& fields) {
    std::wstring text;
    for (size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? L"" : L"\t") + fields[i];
    return text;
}

// _wtoi of the field's first 19 characters, when it fits in 9 digits (longer
// ones are only read, not checked: their overflow is the C library's own).
bool ExpectedInt(const std::wstring& field, int& value) {
    const std::wstring cut = field.substr(0, 19);
    size_t i = 0;
    while (i < cut.size() && (cut[i] == L' ' || cut[i] == L'\n')) ++i;
    bool negative = false;
    if (i < cut.size() && (cut[i] == L'+' || cut[i] == L'-')) negative = cut[i++] == L'-';
    long long n = 0;
    size_t digits = 0;
    for (; i < cut.size() && cut[i] >= L'0' && cut[i] <= L'9'; ++i, ++digits) n = n * 10 + (cut[i] - L'0');
    if (digits > 9) return false;
    value = static_cast<int>(negative ? -n : n);
    return true;
}

TEST(CmdProtocolRandom, ParsedFieldsGiveBackTheText) {
    testsupport::FuzzRun run("command text parser", 1987u);
    std::mt19937& rng = run.Rng();
    for (int round = 0, rounds = testsupport::FuzzRounds(kRounds); round < rounds; ++round) {
        const std::wstring text = RandomText(rng, 40, true);
        run.SetText(text);
        // Given with its byte length (NULs included; an odd last byte is not a unit).
        const int byteLength = static_cast<int>(text.size() * sizeof(wchar_t)) + static_cast<int>(rng() % 2);
        plm::CCmdProtocol parser(text.c_str(), byteLength);
        ASSERT_EQ(text.size(), static_cast<size_t>(parser.GetLength()));
        const std::vector<std::wstring> fields = AllFields(parser, text.size() + 2);
        Field after;
        parser.NextField(&KeepField, &after);
        EXPECT_EQ(-1, after.start);
        for (const std::wstring& field : fields) EXPECT_EQ(std::wstring::npos, field.find(L'\t'));
        // A final TAB ends the last field without starting another.
        const bool finalTab = !text.empty() && text.back() == L'\t';
        EXPECT_EQ(text, Join(fields) + (finalTab ? L"\t" : L""));
        EXPECT_EQ(
            text.empty() ? 0u : static_cast<size_t>(std::count(text.begin(), text.end(), L'\t')) + (finalTab ? 0u : 1u),
            fields.size());

        plm::CCmdProtocol numbers(text.c_str(), byteLength);
        for (const std::wstring& field : fields) {
            int value = INT_MIN + 1, expected = 0;
            numbers.NextInt(value);
            if (ExpectedInt(field.substr(0, field.find(L'\0')), expected)) {
                EXPECT_EQ(expected, value);
            }
        }
        int none = 42;
        numbers.NextInt(none);
        EXPECT_EQ(0, none);

        // Given up to its NUL: the fields of the text before the first NUL.
        plm::CCmdProtocol upToNul(text.c_str(), -1);
        const std::wstring head = text.substr(0, text.find(L'\0'));
        EXPECT_EQ(static_cast<int>(head.size()), upToNul.GetLength());
        const std::vector<std::wstring> headFields = AllFields(upToNul, head.size() + 2);
        EXPECT_EQ(head, Join(headFields) + (!head.empty() && head.back() == L'\t' ? L"\t" : L""));
        if (!run.Passed(round)) return;
    }
}

TEST(CmdProtocolRandom, BuiltFieldsParseBack) {
    testsupport::FuzzRun run("command text builder", 2024u);
    std::mt19937& rng = run.Rng();
    for (int round = 0, rounds = testsupport::FuzzRounds(kRounds); round < rounds; ++round) {
        std::vector<std::wstring> fields(rng() % 7);
        plm::CCmdProtocol builder;
        std::vector<int> ints;
        for (std::wstring& field : fields) {
            switch (rng() % 4) {
            case 0: {
                const int value = static_cast<int>(rng());
                ints.push_back(value);
                builder.AddInt(value);
                field = std::to_wstring(value);
                break;
            }
            case 1: {
                const unsigned value = static_cast<unsigned>(rng());
                builder.AddUInt(value);
                field = std::to_wstring(value);
                break;
            }
            default:
                field = RandomText(rng, 12, false);
                builder.AddField(field.data(), static_cast<int>(field.size()));
            }
        }
        const std::wstring text(builder.GetText(), static_cast<size_t>(builder.GetLength()));
        run.SetText(text);
        EXPECT_EQ(Join(fields), text);
        plm::CCmdProtocol parser(text.c_str(), static_cast<int>(text.size() * sizeof(wchar_t)));
        std::vector<std::wstring> expected = fields;
        // An empty text has no field, and an empty last field after a TAB is not read.
        if (text.empty())
            expected.clear();
        else if (expected.back().empty())
            expected.pop_back();
        EXPECT_EQ(expected, AllFields(parser, fields.size() + 2));
        if (!run.Passed(round)) return;
    }
}

}  // namespace
