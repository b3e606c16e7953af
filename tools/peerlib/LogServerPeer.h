// A stand-in for the server's log server: serves the log pipe, collects the
// LOG_WRITE records that clients write (one record per connection, possibly
// split over several pipe messages) and keeps them for inspection.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/win_Handle.h"

namespace peers {

struct LogRecord {
    std::wstring raw;                  // all text received on the connection, without a final NUL
    bool endsWithNul = false;          // the text arrived with one terminating NUL
    std::vector<std::wstring> fields;  // raw split at every TAB
    std::vector<DWORD> messageBytes;   // size of each pipe message of the connection

    // Field i (0-based) or empty when there are fewer fields.
    std::wstring Field(size_t i) const { return i < fields.size() ? fields[i] : std::wstring(); }
};

class LogServerPeer {
public:
    static constexpr const wchar_t* kDefaultPipeName = L"Log_ServerNamePipe";

    explicit LogServerPeer(std::wstring pipeName = kDefaultPipeName, unsigned instances = 4);
    ~LogServerPeer();  // stops the peer
    LogServerPeer(const LogServerPeer&) = delete;
    LogServerPeer& operator=(const LogServerPeer&) = delete;

    // Called on a serving thread for every record, after it was stored.
    void SetOnRecord(std::function<void(const LogRecord&)> onRecord) { m_onRecord = std::move(onRecord); }

    // Creates the pipe instances and starts serving. False (with the Win32
    // error in LastError()) when the pipe cannot be created.
    bool Start();
    void Stop();
    DWORD LastError() const { return m_lastError; }

    // Waits until at least count records arrived; false after timeoutMs.
    bool WaitForRecords(size_t count, DWORD timeoutMs);
    std::vector<LogRecord> Records() const;
    size_t RecordCount() const;
    void Clear();

private:
    void Serve(HANDLE pipe);
    bool WaitForConnect(HANDLE pipe, OVERLAPPED& ov);
    bool ReadConnection(HANDLE pipe, OVERLAPPED& ov, LogRecord& record, std::vector<BYTE>& bytes);
    void Store(LogRecord record);

    std::wstring m_pipePath;
    unsigned m_instances;
    OS::UniqueHandle m_stop;
    std::vector<OS::UniqueFile> m_pipes;
    std::vector<std::thread> m_threads;
    std::function<void(const LogRecord&)> m_onRecord;
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<LogRecord> m_records;
    DWORD m_lastError = 0;
};

// Splits text at every TAB (an empty text gives one empty field).
std::vector<std::wstring> SplitTabs(const std::wstring& text);

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

}  // namespace peers
