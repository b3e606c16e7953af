// Small pieces shared by the protocol peers: text helpers, the writer end that
// peers use to answer on a requester's reply pipe, and a record store that tests
// wait on.
#pragma once
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/win_Handle.h"

namespace peers {

// Splits text at every TAB (an empty text gives one empty field).
std::vector<std::wstring> SplitTabs(const std::wstring& text);
std::string ToUtf8(const std::wstring& text);

// Opens "\\.\pipe\<name>" for writing, waiting up to busyWaitMs in all while
// every instance is busy. Returns 0 or the Win32 error.
DWORD OpenPipeForWriting(const std::wstring& name, OS::UniqueFile& pipe, DWORD busyWaitMs = 10000);
// Writes cb bytes as messages of at most pieceBytes each (nothing for cb 0).
// Returns 0 or the Win32 error.
DWORD WriteMessages(HANDLE pipe, const void* data, size_t cb, size_t pieceBytes = 1024);
// Writes 1024-byte messages until a write fails (the reader gave up) or stop is
// set: a reply without end. Returns the Win32 error that ended it, 0 for stop.
DWORD FloodMessages(HANDLE pipe, HANDLE stop);
// Runs "<this program's folder>\cmdhandler_peer.exe --forge PIPE TEXT": another
// process writes TEXT into the reply pipe PIPE. Returns when it has ended, with
// its exit code (0: written) or the Win32 error that kept it from running.
DWORD RunForger(const std::wstring& replyPipe, const std::wstring& text);

// Records kept for inspection; serving threads add, tests wait and read.
template <typename T>
class RecordStore {
public:
    void Add(const T& record) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_records.push_back(record);
        }
        m_arrived.notify_all();
    }
    // Waits until at least count records arrived; false after timeoutMs.
    bool WaitFor(size_t count, DWORD timeoutMs) const {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_records.size() >= count; });
    }
    std::vector<T> All() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }
    size_t Count() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.clear();
    }

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_arrived;
    std::vector<T> m_records;
};

}  // namespace peers
