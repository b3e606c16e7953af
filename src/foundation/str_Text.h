// Small text helpers every layer uses: bounded copies into fixed-size buffers
// and decimal text of integers.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace Str {

// Copies at most cchOut - 1 of text's first cchText characters into out
// (cchOut > 0) and terminates it.
void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text, size_t cchText);
// The same for NUL-terminated text; reads no further than out can hold.
void CopyBounded(wchar_t* out, size_t cchOut, const wchar_t* text);

// Decimal text of a value ("%d", "%u").
std::wstring SignedText(int value);
std::wstring UnsignedText(DWORD value);

}  // namespace Str
