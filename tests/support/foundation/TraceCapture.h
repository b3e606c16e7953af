// Catches the library's trace lines as the log server receives them: runs a
// log-server peer on the real log pipe and lets tests look for a line by its
// source file, level and text.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "LogServerPeer.h"

namespace testsupport {

struct TraceLine {
    int level = 0;
    std::wstring sourceFile;
    int line = 0;
    std::wstring text;  // the message after the "[tag][label]" prefix
};

class TraceCapture {
public:
    TraceCapture();  // starts serving and lets both trace channels send again
    bool Started() const { return m_started; }
    std::vector<TraceLine> Lines() const;
    // First line with this source and level whose text contains the part; waits up to timeoutMs.
    bool WaitForLine(const std::wstring& sourceFile, int level, const std::wstring& part, DWORD timeoutMs,
                     TraceLine* found = nullptr) const;
    bool HasLine(const std::wstring& sourceFile, int level, const std::wstring& part) const;
    void Clear() { m_peer.Clear(); }

private:
    peers::LogServerPeer m_peer;
    bool m_started = false;
};

}  // namespace testsupport
