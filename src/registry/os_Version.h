// Dotted version texts ("1.0.1000") and the word splitter they are parsed with.
#pragma once
#include <windows.h>

#include <string>

namespace OS {

// Filter between the splitter and the receiver; an empty result suppresses the word.
struct SWordsAdapter {
    virtual std::wstring Adapt(const std::wstring& word) = 0;
};

// Delivers every word unchanged.
struct SCharAdapter : SWordsAdapter {
    std::wstring Adapt(const std::wstring& word) override { return word; }
};

class CSplitWordCallback {
public:
    virtual ~CSplitWordCallback() = 0;
    virtual void OnWord(const wchar_t* word) = 0;
};

// Calls callback.OnWord once per non-empty adapted dot-separated piece of text,
// in text order. A null text is the empty text.
void SplitWords(const wchar_t* text, CSplitWordCallback& callback, SWordsAdapter& adapter);

}  // namespace OS

// Packed version: (major << 16) | minor, then the build. dwReserved is never compared.
struct tag_Version {
    DWORD dwVersion;
    DWORD dwBuild;
    DWORD dwReserved;
};

// Parses "major.minor.build[...]"; never fails (non-numbers count as 0).
// The minor number is OR-ed in uncut, so a minor of 65536 or more spills into the major half.
tag_Version _NvuMakeVersionBuildEx(const wchar_t* text);

// 1 when b is newer, -1 when a is newer, 0 when version and build are equal.
int CompareVersionString(const wchar_t* a, const wchar_t* b);
