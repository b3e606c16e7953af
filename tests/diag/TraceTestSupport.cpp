#include "TraceTestSupport.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>

namespace tracetest {

DWORD g_fakeTick = 0;
std::vector<LocalLine> g_localLines;

std::wstring OwnExeName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

void RecordLocal(int level, const wchar_t*, int, const wchar_t* format, ...) {
    wchar_t text[1024] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 1023, format, args);
    va_end(args);
    g_localLines.push_back({level, text});
}

}  // namespace tracetest
