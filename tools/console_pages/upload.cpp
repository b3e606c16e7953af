// Upload form (GET) and what the console library read from it (POST): every
// field and, for each uploaded file, where it was stored and its size.
#include <string>

#include "PageSupport.h"
#include "console/plm_Console.h"

namespace {

const char kForm[] =
    "<form method=\"post\" action=\"upload.exe\" enctype=\"multipart/form-data\">\n"
    "<p><label>Title <input type=\"text\" name=\"title\"></label></p>\n"
    "<p><label>Comment<br><textarea name=\"comment\" rows=\"4\" cols=\"50\"></textarea></label></p>\n"
    "<p><label>File <input type=\"file\" name=\"upload\"></label></p>\n"
    "<p><input type=\"submit\" value=\"Send\"></p>\n</form>\n";

std::wstring FileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return L"(missing)";
    ULARGE_INTEGER size;
    size.LowPart = data.nFileSizeLow;
    size.HighPart = data.nFileSizeHigh;
    return std::to_wstring(size.QuadPart) + L" bytes";
}

std::string Received(plm::CGetParameter& params) {
    std::wstring fields, files;
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    for (bool reset = true; params.GetNextPara(name, value, reset); reset = false) {
        if (_wcsicmp(name, L"TempFileName") == 0) {
            files += L"<li class=\"file\"><code>" + page::Html(value) + L"</code>: " + FileSize(value) + L"</li>\n";
        } else {
            fields += L"<li class=\"field\"><b>" + page::Html(name) + L"</b>: <pre>" + page::Html(value) +
                      L"</pre></li>\n";
        }
    }
    return "<p>Status: <span id=\"status\">" + std::to_string(params.GetErrorCode()) + "</span></p>\n" +
           "<h2>Fields</h2>\n<ul>\n" + page::Utf8(fields) + "</ul>\n<h2>Files</h2>\n<ul>\n" + page::Utf8(files) +
           "</ul>\n";
}

}  // namespace

int main() {
    plm::CGetParameter params;
    const bool isPost = page::Env(L"REQUEST_METHOD") == L"POST";
    std::string body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Upload</title></head><body>\n<h1>Upload</h1>\n";
    body += isPost ? Received(params) : std::string(kForm);
    body += "<p><a href=\"/quillon/index.html\">Console index</a></p>\n</body></html>\n";
    page::WriteHeader("text/html;charset=utf-8");
    page::WriteRaw(body);
    return 0;
}
