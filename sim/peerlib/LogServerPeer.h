// A stand-in for the server's log server: serves the log pipe, collects the
// LOG_WRITE records that clients write (one record per connection, possibly
// split over several pipe messages) and keeps them for inspection.
#pragma once
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "PeerSupport.h"
#include "PipeCollector.h"

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
    DWORD LastError() const { return m_collector.LastError(); }

    // Waits until at least count records arrived; false after timeoutMs.
    bool WaitForRecords(size_t count, DWORD timeoutMs) { return m_records.WaitFor(count, timeoutMs); }
    std::vector<LogRecord> Records() const { return m_records.All(); }
    size_t RecordCount() const { return m_records.Count(); }
    void Clear() { m_records.Clear(); }

private:
    void Store(const Connection& connection);

    PipeCollector m_collector;
    std::function<void(const LogRecord&)> m_onRecord;
    std::mutex m_callbackLock;  // one record at a time reaches the callback
    RecordStore<LogRecord> m_records;
};

}  // namespace peers
