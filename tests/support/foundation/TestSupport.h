// Helpers shared by the test programs.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/win_Handle.h"

namespace testsupport {

// A fresh folder under the temp directory, removed with its contents at scope end.
class TempDir {
public:
    explicit TempDir(const wchar_t* tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring Join(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

void WriteFileText(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Folder of the running test program (where the DLL and tool programs live).
std::wstring ExeDir();

// Runs body on `threads` threads that start together, and waits for them all.
void RunTogether(int threads, const std::function<void()>& body);

// For a test of state a process builds once: in the test program itself, runs the
// current test alone in a new process of this program, expects it to pass and
// returns false (the test returns at once); in that process, returns true.
// Call it first, before the test changes its environment.
bool InOwnProcess();

// A local trace entry for the log client that keeps what the client reports
// about its own failures.
struct LocalLine {
    int level;
    std::wstring text;
};
extern std::vector<LocalLine> g_localLines;
void RecordLocal(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);

// An upper time bound for this machine: ms times WDX_TIME_SLACK (1 to 20; ctest sets
// it where Wine runs slower, as in ./wdx's emulated machine). Lower bounds, which
// check that the code waited, stay as they are.
DWORD Slack(DWORD ms);

// Ends the process with a message when it is not disarmed (destroyed) within
// Slack(timeoutMs), so a hanging pipe test fails instead of stalling the run.
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
