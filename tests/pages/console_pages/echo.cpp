// Diagnostic page for machines: the parse status and every pair as the console
// library read it, one line each, with control characters made visible.
#include <string>

#include "PageSupport.h"
#include "ConsoleApi.h"

namespace {

std::string Visible(const wchar_t* text) {
    std::wstring plain;
    std::string out;
    auto flush = [&] { out += page::Utf8(plain), plain.clear(); };
    for (const wchar_t* p = text; p && *p; ++p) {
        const wchar_t c = *p;
        const char* escape = c == L'\\'   ? "\\\\"
                             : c == L'\t' ? "\\t"
                             : c == L'\r' ? "\\r"
                             : c == L'\n' ? "\\n"
                                          : nullptr;
        if (!escape && c >= 0x20) {
            plain += c;
            continue;
        }
        flush();
        if (escape) {
            out += escape;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            out += hex;
        }
    }
    flush();
    return out;
}

}  // namespace

int main() {
    plm::CGetParameter params;
    std::string body = "status " + std::to_string(params.GetErrorCode()) + "\n";
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    for (bool reset = true; params.GetNextPara(name, value, reset); reset = false)
        body += "pair\t" + Visible(name) + "\t" + Visible(value) + "\n";
    page::WriteRaw("Content-type: text/plain;charset=utf-8\r\n\r\n" + body);
    return 0;
}
