// The parameter table: an HTML table of the request's pairs for diagnostic pages.
#include <cwchar>

#include "cgi_Internal.h"
#include "cgi_ParamParser.h"

namespace plm {
namespace {

const char kHeaderRow[] =
    "<tr><td width=\"40%\"><b><font size=\"2\" face=\"Arial\" color=\"#FF0000\">Name</font></b></td>"
    "<td width=\"60%\"><b><font size=\"2\" face=\"Arial\" color=\"#FF0000\">Value</font></b></td></tr>\n";
const char kNameCell[] = "<tr><td width=\"40%\"><b><font size=\"2\" face=\"Arial\">";
const char kValueCell[] = "</font></b></td><td width=\"60%\"><b><font size=\"2\" face=\"Arial\">";
const char kRowEnd[] = "</font></b></td></tr>\n";

// Request text is hostile: it must not become markup of the page.
void AppendEscaped(std::string& html, const wchar_t* text) {
    for (char c : WideToUtf8(text, wcslen(text))) {
        switch (c) {
            case '&':
                html += "&amp;";
                break;
            case '<':
                html += "&lt;";
                break;
            case '>':
                html += "&gt;";
                break;
            case '"':
                html += "&quot;";
                break;
            case '\'':
                html += "&#39;";
                break;
            default:
                html += c;
        }
    }
}

}  // namespace

std::string CCgiParamList::ParaTableHtml() const {
    std::string html;
    if (!m_hasPairArray) return html;
    html += "<table border=\"1\" width=\"40%\">\n";
    html += kHeaderRow;
    for (size_t i = 0; i < PairCount() && NameAt(i) && ValueAt(i); ++i) {
        html += kNameCell;
        AppendEscaped(html, NameAt(i));
        html += kValueCell;
        AppendEscaped(html, ValueAt(i));
        html += kRowEnd;
    }
    html += "</table>\n";
    return html;
}

}  // namespace plm
