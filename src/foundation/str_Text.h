// Bounded copies into the fixed-size buffers every layer fills.
#pragma once
#include <cstddef>

namespace Str {

// Copies at most cchOut - 1 of text's first cchText characters into out
// (cchOut > 0) and terminates it.
void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text, size_t cchText);
// The same for NUL-terminated text; reads no further than out can hold.
void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text);

}  // namespace Str
