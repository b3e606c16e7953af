// Benchmark baseline: copies the request body (CONTENT_LENGTH bytes of standard
// input) into a new temporary file of the server folder in 4096-byte reads.
#include <cstdlib>
#include <string>

#include "PageSupport.h"

int main() {
    _setmode(_fileno(stdin), _O_BINARY);
    const long long length = _wtoi64(page::Env(L"CONTENT_LENGTH").c_str());
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    size_t marker = folder.rfind(L"KPSSRV\\");
    folder = marker == std::wstring::npos ? L"." : folder.substr(0, marker + 7) + L"TEMP";
    wchar_t path[MAX_PATH] = {};
    long long copied = 0;
    if (GetTempFileNameW(folder.c_str(), L"CPY", 0, path)) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        char buffer[4096];
        while (file != INVALID_HANDLE_VALUE && copied < length) {
            size_t want = static_cast<size_t>(length - copied < 4096 ? length - copied : 4096);
            size_t got = fread(buffer, 1, want, stdin);
            if (got == 0) break;
            DWORD written = 0;
            WriteFile(file, buffer, static_cast<DWORD>(got), &written, nullptr);
            copied += static_cast<long long>(got);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    page::WriteRaw("Content-type: text/plain;charset=utf-8\r\n\r\ncopied " + std::to_string(copied) + "\n");
    return 0;
}
