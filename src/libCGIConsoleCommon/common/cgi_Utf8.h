// The library's own UTF-8 conversions and the escaping of request text for
// trace lines.
#pragma once
#include <cstddef>
#include <string>

namespace plm {

// The library's own encoder: one to three bytes per UTF-16 unit, four for a
// valid surrogate pair; a lone surrogate is encoded on its own.
std::string WideToUtf8(const wchar_t* text, size_t length);
inline std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }
// The library's own decoder: four-byte forms up to U+10FFFF become surrogate
// pairs; overlong two- and three-byte forms are accepted.
// False, out untouched, when text is not convertible.
bool Utf8ToWide(const char* text, size_t length, std::wstring& out);
// The same, appended to out; false, out as it was, when not convertible.
bool AppendUtf8AsWide(const char* text, size_t length, std::wstring& out);

// Request text for a trace line: control characters (C0, DEL, C1) as \r, \n,
// \t or \xHH and the line and paragraph separators as \u2028 and \u2029, so
// that a line of the log stays one line, and a backslash as \\.
std::wstring EscapeForTrace(const wchar_t* text);

}  // namespace plm
