// 100,000 random version texts against a plain model of the parsing rules, and
// the comparison's symmetry on them. A failing round prints the seed and the
// text (WDX_FUZZ_SEED repeats the run).
#include <gtest/gtest.h>

#include <climits>
#include <cwctype>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "registry/os_Version.h"

namespace {

const int kRounds = 100000;

const wchar_t kAlphabet[] = {L'.', L'.',  L'.', L'0', L'1', L'2',      L'5',      L'9',     L'9',
                             L' ', L'\t', L'-', L'+', L'x', L'\u00e9', L'\u3000', L'\xd800'};

std::wstring RandomVersion(std::mt19937& rng) {
    std::wstring text(rng() % 31, L'0');
    for (wchar_t& c : text) c = kAlphabet[rng() % (sizeof kAlphabet / sizeof kAlphabet[0])];
    return text;
}

// The parsing rules written out once more: pieces between dots, empty
// ones dropped, each trimmed of white space and read as a signed decimal that
// saturates at the 32-bit limits.
DWORD WordValue(const std::wstring& piece) {
    size_t first = 0, last = piece.size();
    while (first < last && iswspace(piece[first])) ++first;
    while (last > first && iswspace(piece[last - 1])) --last;
    size_t i = first;
    bool negative = false;
    if (i < last && (piece[i] == L'+' || piece[i] == L'-')) negative = piece[i++] == L'-';
    long long n = 0;
    for (; i < last && piece[i] >= L'0' && piece[i] <= L'9'; ++i) {
        n = n * 10 + (piece[i] - L'0');
        if (n > 1LL << 32) n = 1LL << 32;  // far past either limit
    }
    if (negative) n = -n;
    if (n > INT_MAX) n = INT_MAX;
    if (n < INT_MIN) n = INT_MIN;
    return static_cast<DWORD>(static_cast<int>(n));
}

tag_Version Model(const std::wstring& text) {
    std::vector<DWORD> words;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find(L'.', start);
        const std::wstring piece = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
        if (!piece.empty()) words.push_back(WordValue(piece));
        if (dot == std::wstring::npos) break;
        start = dot + 1;
    }
    tag_Version v = {0, 0, 0};
    if (words.size() >= 1) v.dwVersion = words[0] << 16;
    if (words.size() >= 2) v.dwVersion |= words[1];
    if (words.size() >= 3) v.dwBuild = words[2];
    return v;
}

int ModelCompare(const tag_Version& a, const tag_Version& b) {
    if (a.dwVersion != b.dwVersion) return b.dwVersion > a.dwVersion ? 1 : -1;
    if (a.dwBuild != b.dwBuild) return b.dwBuild > a.dwBuild ? 1 : -1;
    return 0;
}

TEST(VersionRandom, ParsingFollowsTheRulesAndComparingIsSymmetric) {
    testsupport::FuzzRun run("version parsing", 1045u);
    std::mt19937& rng = run.Rng();
    std::wstring previous;
    const int rounds = testsupport::FuzzRounds(kRounds);
    for (int round = 0; round < rounds; ++round) {
        const std::wstring text = RandomVersion(rng);
        run.SetText(text);
        const tag_Version parsed = _NvuMakeVersionBuildEx(text.c_str());
        const tag_Version expected = Model(text);
        EXPECT_EQ(expected.dwVersion, parsed.dwVersion);
        EXPECT_EQ(expected.dwBuild, parsed.dwBuild);
        EXPECT_EQ(0u, parsed.dwReserved);
        EXPECT_EQ(0, CompareVersionString(text.c_str(), text.c_str()));
        const int forward = CompareVersionString(previous.c_str(), text.c_str());
        EXPECT_EQ(-forward, CompareVersionString(text.c_str(), previous.c_str()));
        EXPECT_EQ(ModelCompare(Model(previous), expected), forward);
        if (!run.Passed(round)) return;
        previous = text;
    }
}

}  // namespace
