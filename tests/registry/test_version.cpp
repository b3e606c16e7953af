#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/os_Version.h"

namespace {

struct VersionCase {
    const wchar_t* text;
    DWORD dwVersion;
    DWORD dwBuild;
};

const VersionCase kVersionCases[] = {
    {L"1.0.1000", 0x00010000, 1000},
    {L"5.5.2007.3", 0x00050005, 2007},
    {L"10", 0x000A0000, 0},
    {L"", 0, 0},
    {nullptr, 0, 0},
    // empty pieces produce no word
    {L"1..0.1000", 0x00010000, 1000},
    {L".1.0.1000", 0x00010000, 1000},
    {L"1.0.1000.", 0x00010000, 1000},
    {L"1..2", 0x00010002, 0},
    {L"...", 0, 0},
    // a white-space piece is a word of its own that reads as 0
    {L"1. .2", 0x00010000, 2},
    {L" 1 . 0 . 1000 ", 0x00010000, 1000},
    {L"\t1\t.\n2\n", 0x00010002, 0},
    // digits up to the first other character, 0 without digits
    {L"1.x.7b", 0x00010000, 7},
    {L"+2.-0.+3", 0x00020000, 3},
    // the minor number is not cut to 16 bits
    {L"1.70000.3", 0x00011170, 3},
    // a negative minor spills all over the major half
    {L"1.-1.0", 0xFFFFFFFF, 0},
    // saturation at the 32-bit signed limits
    {L"0.0.99999999999", 0, 0x7FFFFFFF},
    {L"0.0.-99999999999", 0, 0x80000000},
};

TEST(Version, ParsesTable) {
    for (const VersionCase& c : kVersionCases) {
        SCOPED_TRACE(c.text ? c.text : L"(null)");
        const tag_Version v = _NvuMakeVersionBuildEx(c.text);
        EXPECT_EQ(c.dwVersion, v.dwVersion);
        EXPECT_EQ(c.dwBuild, v.dwBuild);
        EXPECT_EQ(0u, v.dwReserved);
    }
}

struct CompareCase {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
};

const CompareCase kCompareCases[] = {
    {L"1.0.1000", L"1.0.1001", 1},
    {L"2.0", L"1.9.9999", -1},
    {L"1.0.1000.1", L"1.0.1000.2", 0},
    {L"1.0.1000", L"1.00.1000", 0},
    {L"1.0", L"1.0.0", 0},
    {nullptr, L"0.0", 0},
    {nullptr, L"", 0},
    // compared as unsigned: a spilled negative minor is the largest version
    {L"1.-1", L"65535.0", -1},
    {L"0.0.1", L"0.0.-1", 1},
    {L"1.0.5", L"1.1.0", 1},
};

TEST(Version, ComparesTable) {
    for (const CompareCase& c : kCompareCases) {
        SCOPED_TRACE(std::wstring(c.a ? c.a : L"(null)") + L" vs " + (c.b ? c.b : L"(null)"));
        EXPECT_EQ(c.expected, CompareVersionString(c.a, c.b));
        EXPECT_EQ(-c.expected, CompareVersionString(c.b, c.a));
    }
}

class Collect : public OS::CSplitWordCallback {
public:
    void OnWord(const wchar_t* word) override { words.emplace_back(word); }
    std::vector<std::wstring> words;
};

struct DropA : OS::SWordsAdapter {
    std::wstring Adapt(const std::wstring& word) override { return word == L"a" ? L"" : word; }
};

TEST(SplitWords, DeliversNonEmptyPiecesInOrder) {
    Collect words;
    OS::SCharAdapter plain;
    OS::SplitWords(L"..a. b..c .", words, plain);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L" b", L"c "}), words.words);
}

TEST(SplitWords, AdapterCanSuppressWords) {
    Collect words;
    DropA dropA;
    OS::SplitWords(L"a.b", words, dropA);
    EXPECT_EQ(std::vector<std::wstring>{L"b"}, words.words);
}

TEST(SplitWords, NullAndEmptyTextGiveNothing) {
    Collect words;
    OS::SCharAdapter plain;
    OS::SplitWords(nullptr, words, plain);
    OS::SplitWords(L"", words, plain);
    OS::SplitWords(L".", words, plain);
    EXPECT_TRUE(words.words.empty());
}

}  // namespace
