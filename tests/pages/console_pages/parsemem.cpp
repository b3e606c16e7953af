// Benchmark probe, not a console page: parses its request through the library
// and reports the pairs it got and the process's peak private bytes.
#include "PageSupport.h"

#include <psapi.h>

#include <string>

#include "ConsoleApi.h"

int main() {
    plm::CGetParameter params;
    size_t pairs = 0;
    const wchar_t* name = nullptr;
    const wchar_t* value = nullptr;
    for (bool reset = true; params.GetNextPara(name, value, reset); reset = false) ++pairs;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    page::WriteRaw("Content-type: text/plain\r\n\r\nstatus " + std::to_string(params.GetErrorCode()) + "\npairs " +
                   std::to_string(pairs) + "\npeak " + std::to_string(counters.PeakPagefileUsage) + "\n");
    return 0;
}
