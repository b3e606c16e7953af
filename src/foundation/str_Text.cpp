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

}  // namespace Str
