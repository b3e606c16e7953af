#include <windows.h>

#include "agent/WDXPatchAgent_Internal.h"
#include "diag/logcl_Command.h"
#include "foundation/trace_Trace.h"

// The C++ runtime linked into the library sets aside an emergency pool for
// exceptions (about 72 KB) when the library loads and never frees it by itself:
// a host that loads and unloads the library per package would lose that much
// each time.
namespace __gnu_cxx {
void __freeres();
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        InstallLogClients();
        TraceInit(L"PLS_WDX");
        Agent_SetModule(module);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded by FreeLibrary (the process goes on): give the pool back.
        __gnu_cxx::__freeres();
    }
    return TRUE;
}
