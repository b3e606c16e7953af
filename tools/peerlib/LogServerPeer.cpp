#include "LogServerPeer.h"

#include <chrono>
#include <cstdio>

namespace peers {

namespace {
const DWORD kPipeBufferBytes = 1024;
const DWORD kReadChunkBytes = 4096;

// Ends a pending overlapped operation before its OVERLAPPED goes away.
void CancelPending(HANDLE pipe, OVERLAPPED& ov) {
    CancelIo(pipe);
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &ov, &ignored, TRUE);
}
}  // namespace

std::vector<std::wstring> SplitTabs(const std::wstring& text) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = text.find(L'\t', start);
        if (tab == std::wstring::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
}

LogServerPeer::LogServerPeer(std::wstring pipeName, unsigned instances)
    : m_pipePath(L"\\\\.\\pipe\\" + pipeName), m_instances(instances == 0 ? 1 : instances) {}

LogServerPeer::~LogServerPeer() { Stop(); }

bool LogServerPeer::Start() {
    Stop();
    m_stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_stop) {
        m_lastError = GetLastError();
        return false;
    }
    for (unsigned i = 0; i < m_instances; ++i) {
        OS::UniqueFile pipe(CreateNamedPipeW(m_pipePath.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, m_instances,
                                             kPipeBufferBytes, kPipeBufferBytes, 1000, nullptr));
        if (!pipe) {
            m_lastError = GetLastError();
            m_pipes.clear();
            return false;
        }
        m_pipes.push_back(std::move(pipe));
    }
    for (auto& pipe : m_pipes) m_threads.emplace_back(&LogServerPeer::Serve, this, pipe.get());
    m_lastError = 0;
    return true;
}

void LogServerPeer::Stop() {
    if (m_stop) SetEvent(m_stop.get());
    for (auto& thread : m_threads) thread.join();
    m_threads.clear();
    m_pipes.clear();
    m_stop.reset();
}

void LogServerPeer::Serve(HANDLE pipe) {
    OS::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return;
    std::vector<BYTE> bytes;
    for (;;) {
        OVERLAPPED ov = {};
        ov.hEvent = event.get();
        if (!WaitForConnect(pipe, ov)) return;
        LogRecord record;
        bytes.clear();
        const bool goOn = ReadConnection(pipe, ov, record, bytes);
        DisconnectNamedPipe(pipe);
        if (!bytes.empty() || !record.messageBytes.empty()) {
            record.raw.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
            if (!record.raw.empty() && record.raw.back() == L'\0') {
                record.endsWithNul = true;
                record.raw.pop_back();
            }
            record.fields = SplitTabs(record.raw);
            Store(std::move(record));
        }
        if (!goOn) return;
    }
}

// False when the peer is stopping (or the pipe cannot listen any more).
bool LogServerPeer::WaitForConnect(HANDLE pipe, OVERLAPPED& ov) {
    if (ConnectNamedPipe(pipe, &ov)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
    if (error != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {ov.hEvent, m_stop.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelPending(pipe, ov);
        return false;
    }
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &ov, &ignored, FALSE);
    return true;
}

// Reads until the writer closes; false when the peer is stopping.
bool LogServerPeer::ReadConnection(HANDLE pipe, OVERLAPPED& ov, LogRecord& record, std::vector<BYTE>& bytes) {
    BYTE chunk[kReadChunkBytes];
    DWORD cbMessage = 0;
    for (;;) {
        BOOL ok = ReadFile(pipe, chunk, sizeof chunk, nullptr, &ov);
        DWORD error = ok ? 0 : GetLastError();
        if (!ok && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return true;
        if (!ok && error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, m_stop.get()};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelPending(pipe, ov);
                return false;
            }
        }
        DWORD cbRead = 0;
        ok = GetOverlappedResult(pipe, &ov, &cbRead, FALSE);
        error = ok ? 0 : GetLastError();
        if (!ok && error != ERROR_MORE_DATA) return true;
        bytes.insert(bytes.end(), chunk, chunk + cbRead);
        cbMessage += cbRead;
        if (ok) {  // the message is complete
            record.messageBytes.push_back(cbMessage);
            cbMessage = 0;
        }
    }
}

void LogServerPeer::Store(LogRecord record) {
    LogRecord copy;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.push_back(std::move(record));
        if (m_onRecord) copy = m_records.back();
    }
    m_arrived.notify_all();
    if (m_onRecord) {
        static std::mutex callbackLock;  // one record at a time reaches the callback
        std::lock_guard<std::mutex> guard(callbackLock);
        m_onRecord(copy);
    }
}

bool LogServerPeer::WaitForRecords(size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_records.size() >= count; });
}

std::vector<LogRecord> LogServerPeer::Records() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
}

size_t LogServerPeer::RecordCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records.size();
}

void LogServerPeer::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.clear();
}

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

}  // namespace peers
