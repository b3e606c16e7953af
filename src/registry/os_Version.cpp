#include "registry/os_Version.h"

#include <cwctype>
#include <cwchar>
#include <vector>

namespace OS {

CSplitWordCallback::~CSplitWordCallback() = default;

namespace {
void DeliverPiece(const wchar_t* begin, const wchar_t* end, CSplitWordCallback& callback, SWordsAdapter& adapter) {
    if (begin == end) return;
    std::wstring word = adapter.Adapt(std::wstring(begin, end));
    if (!word.empty()) callback.OnWord(word.c_str());
}
}  // namespace

void SplitWords(const wchar_t* text, CSplitWordCallback& callback, SWordsAdapter& adapter) {
    if (!text) text = L"";
    const wchar_t* pos = text;
    for (const wchar_t* dot = wcschr(pos, L'.'); dot; dot = wcschr(pos, L'.')) {
        DeliverPiece(pos, dot, callback, adapter);
        pos = dot + 1;
    }
    DeliverPiece(pos, pos + wcslen(pos), callback, adapter);
}

}  // namespace OS

namespace {

std::wstring TrimSpace(const std::wstring& word) {
    size_t first = 0;
    size_t last = word.size();
    while (first < last && iswspace(word[first])) ++first;
    while (last > first && iswspace(word[last - 1])) --last;
    return word.substr(first, last - first);
}

// wcstol saturates at the 32-bit limits (long is 32 bits on Windows).
DWORD WordValue(const std::wstring& word) { return static_cast<DWORD>(wcstol(TrimSpace(word).c_str(), nullptr, 10)); }

}  // namespace

tag_Version _NvuMakeVersionBuildEx(const wchar_t* text) {
    class CNvuVersionCallback : public OS::CSplitWordCallback {
    public:
        void OnWord(const wchar_t* word) override { m_words.emplace_back(word ? word : L""); }
        std::vector<std::wstring> m_words;
    };

    CNvuVersionCallback callback;
    OS::SCharAdapter adapter;
    OS::SplitWords(text, callback, adapter);

    const std::vector<std::wstring>& words = callback.m_words;
    tag_Version version = {0, 0, 0};
    if (words.size() >= 1) version.dwVersion = WordValue(words[0]) << 16;
    if (words.size() >= 2) version.dwVersion |= WordValue(words[1]);
    if (words.size() >= 3) version.dwBuild = WordValue(words[2]);
    return version;
}

int CompareVersionString(const wchar_t* a, const wchar_t* b) {
    const tag_Version va = _NvuMakeVersionBuildEx(a);
    const tag_Version vb = _NvuMakeVersionBuildEx(b);
    if (va.dwVersion != vb.dwVersion) return vb.dwVersion > va.dwVersion ? 1 : -1;
    if (va.dwBuild != vb.dwBuild) return vb.dwBuild > va.dwBuild ? 1 : -1;
    return 0;
}
