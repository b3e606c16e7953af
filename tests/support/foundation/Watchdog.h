#pragma once
#include <windows.h>

#include <thread>

#include "foundation/win_Handle.h"

namespace testsupport {

// Ends the process with a message when it is not disarmed (destroyed) within
// timeoutMs, so a hanging pipe test fails instead of stalling the run.
class Watchdog {
public:
    Watchdog(DWORD timeoutMs, const char* what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    OS::UniqueHandle m_disarm;
    std::thread m_thread;
};

}  // namespace testsupport
