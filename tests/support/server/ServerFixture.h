// A simulated server install for tests: a folder with the service executable
// stand-in and the settings file, and the registry value that points to it; and
// a shorter pipe bound.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "ipc/pipe_Util.h"

namespace testsupport {

// Sets HKLM\...\Information\Local_Path (64-bit view) for its lifetime and restores
// the previous state afterwards.
class LocalPathOverride {
public:
    explicit LocalPathOverride(const std::wstring* value);  // null: the value is absent
    ~LocalPathOverride();
    LocalPathOverride(const LocalPathOverride&) = delete;
    LocalPathOverride& operator=(const LocalPathOverride&) = delete;

private:
    bool m_hadValue = false;
    std::wstring m_oldValue;
};

// Deletes the server's add-on registry root with everything below it, in both
// registry views: a plain delete would reach only the process's own view, and
// the server's keys live in the 64-bit one.
void DeleteAoSRoot();

class SimulatedServer {
public:
    // serverVersion names a stand-in program such as L"10_6"; empty: no executable.
    SimulatedServer(const wchar_t* tag, const std::wstring& serverVersion, const std::wstring& subFolder = L"KPSSRV");
    const std::wstring& Root() const { return m_dir.path(); }
    // The server's install folder, as Local_Path holds it (ends with a backslash).
    const std::wstring& InstallFolder() const { return m_install; }
    std::wstring AddonFolder() const;  // <root>\Addon\WDX when the install folder is <root>\KPSSRV\ .
    void SetLanguage(const std::wstring& code);

private:
    TempDir m_dir;
    std::wstring m_install;
    std::unique_ptr<LocalPathOverride> m_localPath;
};

// Shortens the process's pipe wait bound for one scope.
class ShortBound {
public:
    explicit ShortBound(DWORD ms) { PipeSetWaitBoundMs(ms); }
    ~ShortBound() { PipeSetWaitBoundMs(0); }
    ShortBound(const ShortBound&) = delete;
    ShortBound& operator=(const ShortBound&) = delete;
};

}  // namespace testsupport
