// Upload form (GET) and what the console library read from it (POST): every
// field and, for each uploaded file, where it was stored and its size (the
// file is deleted afterwards).
#include <cwctype>
#include <string>

#include "PageSupport.h"
#include "ConsoleApi.h"

namespace {

const char kForm[] =
    "<form method=\"post\" action=\"upload.exe\" enctype=\"multipart/form-data\">\n"
    "<p><label>Title <input type=\"text\" name=\"title\"></label></p>\n"
    "<p><label>Comment<br><textarea name=\"comment\" rows=\"4\" cols=\"50\"></textarea></label></p>\n"
    "<p><label>File <input type=\"file\" name=\"upload\"></label></p>\n"
    "<p><input type=\"submit\" value=\"Send\"></p>\n</form>\n";

// The TEMP folder of the server folder (KPSSRV) that holds this program, with
// its final backslash; empty when the program does not run inside one.
std::wstring ServerTempFolder() {
    wchar_t exe[MAX_PATH + 1] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, exe, MAX_PATH + 1);
    if (cch == 0 || cch > MAX_PATH) return std::wstring();
    std::wstring path(exe, cch);
    std::wstring upper = path;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    const size_t at = upper.rfind(L"\\KPSSRV\\");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at) + L"\\KPSSRV\\TEMP\\";
}

// Only a name of the library's own form ("KPS", eight hex digits, ".tmp")
// directly in the server's TEMP folder is looked at: any other path (another
// folder, a share, a stream, a login's key file) must tell a client nothing.
bool IsUploadPath(const std::wstring& path) {
    const std::wstring folder = ServerTempFolder();
    if (folder.empty()) return false;
    std::wstring collapsed;  // the library's paths hold a doubled backslash
    for (wchar_t c : path)
        if (!(c == L'\\' && !collapsed.empty() && collapsed.back() == L'\\')) collapsed += c;
    if (collapsed.size() <= folder.size() || _wcsnicmp(collapsed.c_str(), folder.c_str(), folder.size()) != 0)
        return false;
    const std::wstring name = collapsed.substr(folder.size());
    if (name.size() != 15 || name.compare(0, 3, L"KPS") != 0 || _wcsicmp(name.c_str() + 11, L".tmp") != 0) return false;
    for (size_t i = 3; i < 11; ++i)
        if (name[i] >= 0x80 || !iswxdigit(name[i])) return false;
    return true;
}

// The upload's size; the file is then deleted (received, so the page's own,
// and this page keeps nothing).
std::wstring SizeThenDelete(const wchar_t* path) {
    if (!IsUploadPath(path)) return L"(not an upload of this request)";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return L"(missing)";
    DeleteFileW(path);
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
            files +=
                L"<li class=\"file\"><code>" + page::Html(value) + L"</code>: " + SizeThenDelete(value) + L"</li>\n";
        } else {
            fields +=
                L"<li class=\"field\"><b>" + page::Html(name) + L"</b>: <pre>" + page::Html(value) + L"</pre></li>\n";
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
