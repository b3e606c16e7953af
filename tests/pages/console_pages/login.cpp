// Sign-in page: starts a new console login (its cookies arrive with this page).
#include "ConsolePage.h"

int main() {
    auto console = page::OpenConsole(0, nullptr, 1);
    if (!console) return 1;
    console->WriteHeader();
    plm::CPutStream out;
    page::BeginHtml(out, *console, CGIRES_TITLE_LOGIN);
    out << L"<p id=\"code\">" << console->GetErrorCode() << L"</p>\n<p>"
        << page::Text(*console, page::MeaningOf(console->GetErrorCode())).c_str() << L"</p>\n"
        << L"<p><a id=\"status-link\" href=\"status.exe\">" << page::Text(*console, CGIRES_LINK_STATUS).c_str()
        << L"</a></p>\n";
    page::EndHtml(out, *console);
    return 0;
}
