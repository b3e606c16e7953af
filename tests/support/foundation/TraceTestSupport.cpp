#include "TraceTestSupport.h"

#include <cstring>
#include <cwchar>

namespace tracetest {

DWORD g_fakeTick = 0;

std::wstring OwnExeName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

}  // namespace tracetest
