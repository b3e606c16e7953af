// The smallest console page: the request's parameters as an HTML table.
// Built from the release alone; see README.txt for the command line.
#include <string>

#include "console/plm_Console.h"

int main() {
    plm::CGetParameter params;
    plm::CPutStream out(true);  // the response header first
    out << L"<p>Status: " << params.GetErrorCode() << L"</p>\n";
    const std::string table = params.GetParaTableHtml();  // already UTF-8
    out.WriteBinary(table.data(), static_cast<int>(table.size()));
    return params.GetErrorCode() == plm::CGI_OK ? 0 : 1;
}
