#include <windows.h>

#include <cerrno>

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

// The 32-bit runtime registers the library's unwind tables at load through the
// thread library's pthread_once, which gives the loading thread a record (an
// event and a thread handle) that only that thread's end frees: a host that
// loads and unloads the library per package would lose two handles each time.
// The 32-bit link routes pthread_once here (--wrap), which needs no record.
extern "C" int __wrap_pthread_once(volatile long* once, void (*run)(void)) {
    enum : long { kNotRun = 0, kDone = 1, kRunning = 2 };  // the thread library's values
    if (once == nullptr || run == nullptr) return EINVAL;
    for (;;) {
        const long seen = InterlockedCompareExchange(once, kRunning, kNotRun);
        if (seen == kDone) return 0;
        if (seen == kNotRun) break;
        Sleep(1);  // another thread runs it: one-time start-up work, short
    }
    try {
        run();
    } catch (...) {
        InterlockedExchange(once, kNotRun);  // as with the thread library: the next caller tries again
        throw;
    }
    InterlockedExchange(once, kDone);
    return 0;
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
