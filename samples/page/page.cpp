// The smallest console page: the request's parameters as an HTML table.
// Built from the release alone; see README.txt for the command line.
#include <cstdio>
#include <string>

#include "console/plm_Console.h"

int main() {
    plm::CGetParameter params;
    plm::CPutStream out(true);  // the response header first
    out << L"<p>Status: " << params.GetErrorCode() << L"</p>\n";
    // The DLL this page runs against: its release and its C interface's version.
    int major = 0, minor = 0;
    const wchar_t* library = L"";
    plm_GetVersion(&major, &minor, &library);
    out << L"<p id=\"library\">" << library << L", C interface " << major << L"." << minor << L"</p>\n";
    const std::string table = params.GetParaTableHtml();  // already UTF-8
    out.WriteBinary(table.data(), static_cast<int>(table.size()));
    // The page's own printf and the library's stream share one stdout, so their
    // bytes leave in the order written, around binary writes too.
    std::printf("<p id=\"order\">A");
    out << L"B";
    std::printf("C");
    out << L"D";
    std::printf("E\n");
    out.WriteBinary("F", 1);
    std::printf("G</p>\n");
    return params.GetErrorCode() == plm::CGI_OK ? 0 : 1;
}
