// The console's own UTF-8 conversions. They differ from the platform's on
// purpose: lone surrogates encoded one by one, overlong two- and three-byte
// forms accepted; stored cookies and key texts depend on these exact bytes.
// Characters beyond U+FFFF travel as four bytes, as browsers send them.
#include "cgi_Utf8.h"

#include <windows.h>

#include <cstdio>

namespace plm {

std::string WideToUtf8(const wchar_t* text, size_t length) {
    std::string out;
    if (!text) return out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        unsigned u = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (u == 0) break;
        unsigned low = i + 1 < length ? static_cast<unsigned>(text[i + 1]) & 0xFFFF : 0;
        if (u >= 0xD800 && u <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
            unsigned cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
            ++i;
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }
}  // namespace

bool AppendUtf8AsWide(const char* text, size_t length, std::wstring& result) {
    if (!text) return false;
    const size_t start = result.size();
    // A failure leaves result as it was.
    auto fail = [&] {
        result.resize(start);
        return false;
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            result += static_cast<wchar_t>(c);
            i += 1;
        } else if (c >= 0xC0 && c <= 0xDF) {
            if (i + 1 >= length || !IsContinuation(p[i + 1])) return fail();
            result += static_cast<wchar_t>(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (i + 2 >= length || !IsContinuation(p[i + 1]) || !IsContinuation(p[i + 2])) return fail();
            result += static_cast<wchar_t>(((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
            i += 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            if (i + 3 >= length || !IsContinuation(p[i + 1]) || !IsContinuation(p[i + 2]) || !IsContinuation(p[i + 3]))
                return fail();
            unsigned cp =
                ((c & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
            // Only what a surrogate pair can carry: no overlong four-byte form.
            if (cp < 0x10000 || cp > 0x10FFFF) return fail();
            result += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            result += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            i += 4;
        } else {
            return fail();  // stray continuation byte or a lead above 0xF4
        }
    }
    return true;
}

bool Utf8ToWide(const char* text, size_t length, std::wstring& out) {
    std::wstring result;
    result.reserve(length);
    if (!AppendUtf8AsWide(text, length, result)) return false;
    out.swap(result);
    return true;
}

std::wstring EscapeForTrace(const wchar_t* text) {
    std::wstring out;
    for (const wchar_t* p = text; p && *p; ++p) {
        const wchar_t c = *p;
        if (c == L'\\') {  // else a literal "\n" would read like an escaped line feed
            out += L"\\\\";
        } else if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\t') {
            out += L"\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {  // C0, DEL and C1 (U+0085 ends a line too)
            wchar_t hex[8];
            _snwprintf_s(hex, 8, _TRUNCATE, L"\\x%02X", static_cast<unsigned>(c));
            hex[7] = L'\0';
            out += hex;
        } else if (c == 0x2028 || c == 0x2029) {  // line and paragraph separators
            out += c == 0x2028 ? L"\\u2028" : L"\\u2029";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace plm
