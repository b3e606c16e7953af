// The console's own UTF-8 conversions. They differ from the platform's on
// purpose: three bytes at most per unit, surrogates one by one, overlong forms
// accepted; stored cookies and key texts depend on these exact bytes.
#include "cgi_Internal.h"

namespace plm {

std::string WideToUtf8(const wchar_t* text, size_t length) {
    std::string out;
    if (!text) return out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        unsigned u = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (u == 0) break;
        if (u < 0x80) {
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

bool Utf8ToWide(const char* text, size_t length, std::wstring& out) {
    if (!text) return false;
    std::wstring result;
    result.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            result += static_cast<wchar_t>(c);
            i += 1;
        } else if (c >= 0xC0 && c <= 0xDF) {
            if (i + 1 >= length || !IsContinuation(p[i + 1])) return false;
            result += static_cast<wchar_t>(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (i + 2 >= length || !IsContinuation(p[i + 1]) || !IsContinuation(p[i + 2])) return false;
            result += static_cast<wchar_t>(((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
            i += 3;
        } else {
            return false;  // stray continuation byte or a four-byte (or longer) lead
        }
    }
    out.swap(result);
    return true;
}

}  // namespace plm
