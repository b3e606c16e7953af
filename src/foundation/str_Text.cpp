#include "foundation/str_Text.h"

#include <cwchar>

namespace Str {

void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text, size_t cchText) {
    const size_t cch = cchText < cchOut ? cchText : cchOut - 1;
    wmemcpy(out, text, cch);
    out[cch] = L'\0';
}

void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text) {
    CopyBounded(out, cchOut, text, wcsnlen(text, cchOut - 1));
}

std::wstring SignedText(int value) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%d", value);
    text[15] = L'\0';
    return text;
}

std::wstring UnsignedText(DWORD value) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%u", static_cast<unsigned>(value));
    text[15] = L'\0';
    return text;
}

}  // namespace Str
