#include <windows.h>

#include "agent/WDXPatchAgent_Internal.h"
#include "diag/trace_Trace.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        TraceInit(L"PLS_WDX");
        Agent_SetModule(module);
    }
    return TRUE;
}
