// What the login pages share: building the console context (or saying why it
// cannot be built), the page frame and the texts of the resource DLL.
#pragma once
#include <memory>
#include <string>

#include "PageSupport.h"
#include "cgires/cgires_ids.h"
#include "ConsoleApi.h"

namespace page {

// The context, or null after a plain error response when the resource DLL is
// missing.
inline std::unique_ptr<plm::CConsoleCommon> OpenConsole(int contentKind, const wchar_t* downloadName, int loginMode) {
    try {
        return std::unique_ptr<plm::CConsoleCommon>(new plm::CConsoleCommon(contentKind, downloadName, loginMode));
    } catch (plm::CResourceLoaderException* error) {
        delete error;
        WriteRaw(
            "Status: 500 Internal Server Error\r\nContent-type: text/plain;charset=utf-8\r\n\r\n"
            "The console's resource DLL CGIResUTF8.dll cannot be loaded.\n");
        return nullptr;
    }
}

inline std::wstring Text(const plm::CConsoleCommon& console, int id) { return Html(console.LoadResString(id)); }

inline void BeginHtml(plm::CPutStream& out, const plm::CConsoleCommon& console, int titleId) {
    out << L"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" << Text(console, titleId).c_str()
        << L"</title><link rel=\"stylesheet\" href=\"/quillon/console.css\"></head><body>\n<h1>"
        << Text(console, titleId).c_str() << L"</h1>\n";
}

inline void EndHtml(plm::CPutStream& out, const plm::CConsoleCommon& console) {
    out << L"<p><a id=\"index-link\" href=\"/quillon/index.html\">" << Text(console, CGIRES_LINK_INDEX).c_str()
        << L"</a></p>\n</body></html>\n";
}

// The resource text that explains a login code to a person.
inline int MeaningOf(int code) {
    switch (code) {
    case plm::CGI_OK:
    case plm::CGI_LOGIN_KEY_MISMATCH:
    case plm::CGI_LOGIN_EXPIRED:
    case plm::CGI_LOGIN_NO_COOKIE:
    case plm::CGI_LOGIN_NO_KEY_FILE:
    case plm::CGI_LOGIN_NOT_CREATED:
    case plm::CGI_SSO_CHECK_FAILED:
        return CGIRES_CODE(code);
    default:
        return CGIRES_CODE_UNKNOWN;
    }
}

}  // namespace page
