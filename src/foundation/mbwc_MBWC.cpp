#include "foundation/mbwc_MBWC.h"

#include <cstring>
#include <vector>

#include "foundation/trace_Trace.h"

using AgentChannel::TraceWrite;

namespace {
const wchar_t kSourceFile[] = L".\\mbwc_MBWC";
}

namespace MBWC {

int WCToMB(const wchar_t* pszWideCharStr, char* pszMultiByteStr, int nMultiByteLength, UINT CodePage, DWORD dwFlags) {
    int needed = WideCharToMultiByte(CodePage, dwFlags, pszWideCharStr, -1, nullptr, 0, nullptr, nullptr);
    if (needed > nMultiByteLength) {
        WDX_TRACE(kTraceCodePage,
                  L"[MBWC::WCToMB] MBWC error. Not enough buffer or wrong function was called. "
                  L"pszWideCharStr=%s, nMultiByteLength=%d, CodePage=%d, dwFlags=%d",
                  pszWideCharStr, nMultiByteLength, CodePage, dwFlags);
        return 0;
    }
    if (needed == 0) return 0;
    return WideCharToMultiByte(CodePage, dwFlags, pszWideCharStr, -1, pszMultiByteStr, needed, nullptr, nullptr);
}

int MBToWC(const char* text, std::wstring& out, UINT codePage, DWORD flags, DWORD* error) {
    if (text == nullptr) text = "";
    const size_t cbText = std::strlen(text);
    if (cbText > static_cast<size_t>(INT_MAX - 1)) {
        if (error) *error = ERROR_ARITHMETIC_OVERFLOW;
        return 0;
    }
    int cchNeeded = MultiByteToWideChar(codePage, flags, text, static_cast<int>(cbText), nullptr, 0);
    if (cchNeeded < 0) cchNeeded = 0;
    std::vector<wchar_t> buffer(static_cast<size_t>(cchNeeded) + 1, L'\0');
    int converted = MultiByteToWideChar(codePage, flags, text, -1, buffer.data(), cchNeeded + 1);
    if (converted == 0) {
        if (error) *error = GetLastError();
        return 0;
    }
    out.assign(buffer.data());
    return converted;
}

std::string ToAnsi(const std::wstring& text, size_t maxBytes) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
    const int cchText = static_cast<int>(text.size());
    // A look-alike ("\u0100" as "A") would let a client's text pass for
    // another: refused, like a character without any form. UTF-8 maps all and
    // takes neither the flag nor the question.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const askDefault = utf8 ? nullptr : &usedDefault;
    const int cb = WideCharToMultiByte(CP_ACP, flags, text.c_str(), cchText, nullptr, 0, nullptr, askDefault);
    if (cb <= 0 || usedDefault) return std::string();
    std::string out(static_cast<size_t>(cb), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text.c_str(), cchText, &out[0], cb, nullptr, askDefault) != cb ||
        usedDefault)
        return std::string();
    if (out.size() > maxBytes) out.resize(maxBytes);
    return out;
}

std::wstring AnsiToWide(const char* text) {
    std::wstring out;
    MBToWC(text, out, CP_ACP, 0, nullptr);
    return out;
}

}  // namespace MBWC
