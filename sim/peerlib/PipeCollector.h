// The serving half every peer shares: serves a message-mode inbound pipe with
// several instances and collects each connection's bytes until the writer
// closes, then hands them to a handler on the serving thread.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/win_Handle.h"

namespace peers {

struct Connection {
    std::vector<BYTE> bytes;          // everything the writer sent
    std::vector<DWORD> messageBytes;  // size of each pipe message
};

class PipeCollector {
public:
    // Called for every connection that sent at least one message, after the
    // pipe instance was disconnected. May block; it should end when StopEvent() is set.
    typedef std::function<void(Connection&)> Handler;

    PipeCollector(std::wstring pipeName, unsigned instances);
    ~PipeCollector();  // stops serving
    PipeCollector(const PipeCollector&) = delete;
    PipeCollector& operator=(const PipeCollector&) = delete;

    // Creates the instances and starts one serving thread each. False (with the
    // Win32 error in LastError()) when the pipe cannot be created.
    bool Start(Handler handler);
    void Stop();
    DWORD LastError() const { return m_lastError; }
    // Set while the collector stops; handlers that wait should wait on it too.
    HANDLE StopEvent() const { return m_stop.get(); }
    const std::wstring& PipeName() const { return m_pipeName; }

private:
    void Serve(HANDLE pipe);
    bool WaitForConnect(HANDLE pipe, OVERLAPPED& ov);
    bool ReadConnection(HANDLE pipe, OVERLAPPED& ov, Connection& connection);
    bool WaitOrStop(HANDLE pipe, OVERLAPPED& ov);

    std::wstring m_pipeName;
    unsigned m_instances;
    Handler m_handler;
    OS::UniqueHandle m_stop;
    std::vector<OS::UniqueFile> m_pipes;
    std::vector<std::thread> m_threads;
    DWORD m_lastError = 0;
};

}  // namespace peers
