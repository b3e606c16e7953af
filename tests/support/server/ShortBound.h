#pragma once
#include <windows.h>

#include "ipc/pipe_Util.h"

namespace testsupport {

// Shortens the process's pipe wait bound for one scope.
class ShortBound {
public:
    explicit ShortBound(DWORD ms) { PipeSetWaitBoundMs(ms); }
    ~ShortBound() { PipeSetWaitBoundMs(0); }
    ShortBound(const ShortBound&) = delete;
    ShortBound& operator=(const ShortBound&) = delete;
};

}  // namespace testsupport
