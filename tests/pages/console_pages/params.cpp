// Page for people: the parse status and the parameter table.
#include <string>

#include "PageSupport.h"
#include "ConsoleApi.h"

int main() {
    plm::CGetParameter params;
    std::string body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Request parameters</title></head><body>\n"
        "<h1>Request parameters</h1>\n<p>Status: <span id=\"status\">" +
        std::to_string(params.GetErrorCode()) + "</span></p>\n" + params.GetParaTableHtml() +
        "<p><a href=\"/quillon/index.html\">Console index</a></p>\n</body></html>\n";
    page::WriteHeader("text/html;charset=utf-8");
    page::WriteRaw(body);
    return 0;
}
