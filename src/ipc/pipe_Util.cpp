#include "ipc/pipe_Util.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "foundation/str_Text.h"
#include "foundation/trace_Trace.h"
#include "ipc/pipe_Server.h"

namespace {
using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L".\\pipe_Util";
volatile DWORD g_waitBoundMs = kPipeWaitBoundMs;

// What the process knows about each service: few, and only by their
// well-known names, so a short list.
const size_t kMaxServices = 8;
const size_t kServiceNameChars = 128;
struct SServiceEntry {
    wchar_t name[kServiceNameChars];
    bool stalled;
};
SRWLOCK g_servicesLock = SRWLOCK_INIT;
SServiceEntry g_services[kMaxServices];
size_t g_serviceCount = 0;

// The entry of a service, added when add is set and there is room; call with the lock held.
SServiceEntry* FindService(const wchar_t* targetName, bool add) {
    if (targetName == nullptr || wcslen(targetName) >= kServiceNameChars) return nullptr;
    for (size_t i = 0; i < g_serviceCount; ++i)
        if (wcscmp(g_services[i].name, targetName) == 0) return &g_services[i];
    if (!add || g_serviceCount == kMaxServices) return nullptr;
    SServiceEntry& entry = g_services[g_serviceCount++];
    Str::CopyBounded(entry.name, kServiceNameChars, targetName);
    entry.stalled = false;
    return &entry;
}

}  // namespace

DWORD PipeWaitBoundMs() { return g_waitBoundMs; }

void PipeSetWaitBoundMs(DWORD waitMs) {
    g_waitBoundMs = waitMs != 0 ? waitMs : kPipeWaitBoundMs;
    AcquireSRWLockExclusive(&g_servicesLock);
    for (size_t i = 0; i < g_serviceCount; ++i) g_services[i].stalled = false;
    ReleaseSRWLockExclusive(&g_servicesLock);
}

bool PipeServiceStalled(const wchar_t* targetName) {
    AcquireSRWLockShared(&g_servicesLock);
    const SServiceEntry* entry = FindService(targetName, false);
    const bool stalled = entry != nullptr && entry->stalled;
    ReleaseSRWLockShared(&g_servicesLock);
    return stalled;
}

void PipeMarkServiceStalled(const wchar_t* targetName) {
    AcquireSRWLockExclusive(&g_servicesLock);
    if (SServiceEntry* entry = FindService(targetName, true)) entry->stalled = true;
    ReleaseSRWLockExclusive(&g_servicesLock);
}

CPipeClient::CPipeClient() : m_path(), m_lastError(0) {}

CPipeClient::~CPipeClient() = default;

// Records the error and leaves it in GetLastError() for callers that read it there.
bool CPipeClient::Fail(DWORD error) {
    m_lastError = error;
    SetLastError(error);
    return false;
}

bool CPipeClient::Open(const wchar_t* name, DWORD boundMs) {
    Close();
    m_boundStart = GetTickCount();
    m_boundMs = boundMs != 0 ? boundMs : PipeWaitBoundMs();
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!PipeMakePath(name, m_path, MAX_PATH)) return Fail(ERROR_FILENAME_EXCED_RANGE);
    // While every instance is busy: wait for a free one, kBusyWaitMs at a time,
    // and give up once the bound has passed in all (others may keep taking the
    // instances that free up).
    for (;;) {
        m_pipe.reset(CreateFileW(m_path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
        if (m_pipe.valid()) break;
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) return Fail(error);
        const DWORD left = TimeLeft();
        if (left == 0) return Fail(ERROR_SEM_TIMEOUT);
        if (!WaitNamedPipeW(m_path, std::min(left, static_cast<DWORD>(kBusyWaitMs)))) {
            const DWORD waitError = GetLastError();
            if (waitError != ERROR_SEM_TIMEOUT) return Fail(waitError);
        }
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(m_pipe.get(), &mode, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        Close();
        return Fail(error);
    }
    m_lastError = 0;
    return true;
}

DWORD CPipeClient::TimeLeft() const {
    const DWORD elapsed = GetTickCount() - m_boundStart;
    return elapsed >= m_boundMs ? 0 : m_boundMs - elapsed;
}

DWORD CPipeClient::ServerProcessId() const { return PipeServerProcessId(m_pipe.get()); }

// One overlapped write, waited for within what is left of the bound. The pipe
// itself signals the completion (no event), so a write that completes at once
// costs no more than a synchronous one.
bool CPipeClient::WriteBounded(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten) {
    OVERLAPPED ov = {};
    if (!WriteFile(m_pipe.get(), piece, cbPiece, nullptr, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        const DWORD wait = WaitForSingleObject(m_pipe.get(), TimeLeft());
        if (wait != WAIT_OBJECT_0) {
            const DWORD error = wait == WAIT_TIMEOUT ? static_cast<DWORD>(ERROR_SEM_TIMEOUT) : GetLastError();
            // The reader does not read: the write must end before ov goes away.
            CancelIoEx(m_pipe.get(), &ov);
            GetOverlappedResult(m_pipe.get(), &ov, &cbWritten, TRUE);
            SetLastError(error);
            return false;
        }
    }
    return GetOverlappedResult(m_pipe.get(), &ov, &cbWritten, FALSE) != FALSE;
}

bool CPipeClient::WritePiece(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten) {
    for (unsigned attempt = 0;; ++attempt) {
        cbWritten = 0;
        if (WriteBounded(piece, cbPiece, cbWritten)) {
            // A write that moves nothing would make the caller loop forever.
            if (cbWritten == 0 && cbPiece != 0) return Fail(ERROR_WRITE_FAULT);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_NO_SYSTEM_RESOURCES || attempt >= kResourceRetries) return Fail(error);
        Sleep(kResourceRetryDelayMs);
    }
}

bool CPipeClient::Write(const void* data, unsigned& length) {
    const unsigned total = length;
    length = 0;
    if (!m_pipe.valid()) return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr && total != 0) return Fail(ERROR_INVALID_PARAMETER);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    BYTE block[kPieceBytes];
    while (length < total) {
        const DWORD cbPiece = (total - length < kPieceBytes) ? total - length : kPieceBytes;
        std::memcpy(block, bytes + length, cbPiece);
        DWORD cbWritten = 0;
        if (!WritePiece(block, cbPiece, cbWritten)) return false;
        length += cbWritten;
    }
    m_lastError = 0;
    return true;
}

bool CPipeClient::WriteWhole(const void* data, unsigned& length) {
    const unsigned total = length;
    length = 0;
    if (!m_pipe.valid()) return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr && total != 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD cbWritten = 0;
    if (!WritePiece(static_cast<const BYTE*>(data), total, cbWritten)) return false;
    length = cbWritten;
    m_lastError = 0;
    return true;
}

void CPipeClient::Close() { m_pipe.reset(); }

namespace {

// Both send failures and the server's failure are traced from helpers shared by
// the two entry points: the line is the caller's.
bool SendFailed(int line, const wchar_t* format, DWORD error) {
    TraceWrite(kTraceFailure, kSourceFile, line, format, error);
    SetLastError(error);
    return false;
}

bool ServerFailed(int line) {
    TraceWrite(kTraceFailure, kSourceFile, line, L"[PipeSendAndRecvW] Initial pipe server failed!");
    return false;
}

// The writing half of PipeSendAndRecvW, once the reply server is up. The reply
// may come only from the process that serves the connection the command goes
// into, asked as soon as that connection opens: a restarted service is heard at
// once, and no connection is made to the service's pipe without a command.
// (The service may read the command until the connection closes, so the
// connection cannot stay open until the reply's writer is known.) A process
// that cannot be told is no service to answer: nothing is sent. Only where the
// platform lacks the call may any writer that connects after the command answer.
bool SendToTarget(const void* data, unsigned length, const wchar_t* targetName, CPipeServer& server) {
    CPipeClient client;
    if (!client.Open(targetName))
        return SendFailed(__LINE__, L"[PipeSendAndRecvW] Initial pipe client failed! err=%d", client.LastError());
    const DWORD serverProcess = client.ServerProcessId();
    const DWORD idError = serverProcess == 0 ? GetLastError() : ERROR_SUCCESS;
    if (serverProcess == 0 && idError != ERROR_CALL_NOT_IMPLEMENTED) {
        const DWORD error = idError != ERROR_SUCCESS ? idError : static_cast<DWORD>(ERROR_ACCESS_DENIED);
        WDX_TRACE(kTraceFailure,
                  L"[PipeSendAndRecvW] Cannot tell the process serving %s, err=%d; the command is not sent",
                  client.GetPath(), error);
        SetLastError(error);
        return false;
    }
    if (serverProcess == 0) {
        WDX_TRACE(kTraceFailure,
                  L"[PipeSendAndRecvW] This platform cannot tell the process serving %s; any writer that connects "
                  L"after the command may answer on %s",
                  client.GetPath(), server.GetPath());
    }
    unsigned cbWritten = length;
    if (!client.Write(data, cbWritten))
        return SendFailed(__LINE__, L"[PipeSendAndRecvW] pipe send failed!. err=%d", client.LastError());
    // Whoever connected to the reply pipe before the command was whole cannot
    // be answering it.
    server.ExpectWriter(serverProcess);
    return true;
}

}  // namespace

bool PipeSendAndRecvW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                      CPipeServer& server, HANDLE userObject) {
    if (!server.Initial(replyName, userObject)) return ServerFailed(__LINE__);
    return SendToTarget(data, length, targetName, server);
}

bool PipeSendAndRecvReplyW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                           CPipeServer& server) {
    if (!server.InitialForReply(replyName)) return ServerFailed(__LINE__);
    return SendToTarget(data, length, targetName, server);
}
