#include "PipeCollector.h"

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

PipeCollector::PipeCollector(std::wstring pipeName, unsigned instances)
    : m_pipeName(std::move(pipeName)), m_instances(instances == 0 ? 1 : instances) {}

PipeCollector::~PipeCollector() { Stop(); }

bool PipeCollector::Start(Handler handler) {
    Stop();
    m_handler = std::move(handler);
    m_stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_stop) {
        m_lastError = GetLastError();
        return false;
    }
    const std::wstring path = L"\\\\.\\pipe\\" + m_pipeName;
    for (unsigned i = 0; i < m_instances; ++i) {
        OS::UniqueFile pipe(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, m_instances,
                                             kPipeBufferBytes, kPipeBufferBytes, 1000, nullptr));
        if (!pipe) {
            m_lastError = GetLastError();
            m_pipes.clear();
            return false;
        }
        m_pipes.push_back(std::move(pipe));
    }
    for (auto& pipe : m_pipes) m_threads.emplace_back(&PipeCollector::Serve, this, pipe.get());
    m_lastError = 0;
    return true;
}

void PipeCollector::Stop() {
    if (m_stop) SetEvent(m_stop.get());
    for (auto& thread : m_threads) thread.join();
    m_threads.clear();
    m_pipes.clear();
    m_stop.reset();
}

void PipeCollector::Serve(HANDLE pipe) {
    OS::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return;
    for (;;) {
        OVERLAPPED ov = {};
        ov.hEvent = event.get();
        if (!WaitForConnect(pipe, ov)) return;
        Connection connection;
        const bool goOn = ReadConnection(pipe, ov, connection);
        DisconnectNamedPipe(pipe);
        if (!connection.messageBytes.empty() || !connection.bytes.empty()) m_handler(connection);
        if (!goOn) return;
    }
}

// False when the collector is stopping (the pending operation is cancelled).
bool PipeCollector::WaitOrStop(HANDLE pipe, OVERLAPPED& ov) {
    HANDLE waits[2] = {ov.hEvent, m_stop.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
    CancelPending(pipe, ov);
    return false;
}

// False when the collector is stopping (or the pipe cannot listen any more).
bool PipeCollector::WaitForConnect(HANDLE pipe, OVERLAPPED& ov) {
    if (ConnectNamedPipe(pipe, &ov)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
    if (error != ERROR_IO_PENDING || !WaitOrStop(pipe, ov)) return false;
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &ov, &ignored, FALSE);
    return true;
}

// Reads until the writer closes; false when the collector is stopping.
bool PipeCollector::ReadConnection(HANDLE pipe, OVERLAPPED& ov, Connection& connection) {
    BYTE chunk[kReadChunkBytes];
    DWORD cbMessage = 0;
    for (;;) {
        BOOL ok = ReadFile(pipe, chunk, sizeof chunk, nullptr, &ov);
        DWORD error = ok ? 0 : GetLastError();
        if (!ok && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return true;
        if (!ok && error == ERROR_IO_PENDING && !WaitOrStop(pipe, ov)) return false;
        DWORD cbRead = 0;
        ok = GetOverlappedResult(pipe, &ov, &cbRead, FALSE);
        error = ok ? 0 : GetLastError();
        if (!ok && error != ERROR_MORE_DATA) return true;
        connection.bytes.insert(connection.bytes.end(), chunk, chunk + cbRead);
        cbMessage += cbRead;
        if (ok) {  // the message is complete
            connection.messageBytes.push_back(cbMessage);
            cbMessage = 0;
        }
    }
}

}  // namespace peers
