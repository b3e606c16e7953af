// Login status page: whether this request belongs to a live login, and why not.
#include "ConsolePage.h"

int main() {
    auto console = page::OpenConsole(0, nullptr, 0);
    if (!console) return 1;
    console->WriteHeader();
    const int code = console->GetErrorCode();
    plm::CPutStream out;
    page::BeginHtml(out, *console, CGIRES_TITLE_STATUS);
    out << L"<p id=\"code\">" << code << L"</p>\n<p id=\"meaning\" class=\""
        << (code == plm::CGI_OK ? L"valid" : L"invalid") << L"\">"
        << page::Text(*console, page::MeaningOf(code)).c_str() << L"</p>\n";
    out << L"<p><a id=\"signin\" href=\"login.exe\">" << page::Text(*console, CGIRES_SIGN_IN).c_str()
        << L"</a> &middot; <a id=\"report-link\" href=\"report.exe\">"
        << page::Text(*console, CGIRES_LINK_REPORT).c_str() << L"</a></p>\n";
    page::EndHtml(out, *console);
    return 0;
}
