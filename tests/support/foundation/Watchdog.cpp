#include "Watchdog.h"

#include <cstdio>
#include <string>

namespace testsupport {

Watchdog::Watchdog(DWORD timeoutMs, const char* what) : m_disarm(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    HANDLE disarm = m_disarm.get();
    std::string label = what != nullptr ? what : "test";
    m_thread = std::thread([disarm, timeoutMs, label] {
        if (WaitForSingleObject(disarm, timeoutMs) == WAIT_OBJECT_0) return;
        std::fprintf(stderr, "watchdog: %s did not finish within %lu ms\n", label.c_str(),
                     static_cast<unsigned long>(timeoutMs));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    });
}

Watchdog::~Watchdog() {
    SetEvent(m_disarm.get());
    m_thread.join();
}

}  // namespace testsupport
