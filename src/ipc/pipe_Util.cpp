#include "ipc/pipe_Util.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "foundation/trace_Trace.h"
#include "ipc/pipe_Server.h"

namespace {
const wchar_t kSourceFile[] = L".\\pipe_Util";
const int kLevel = 5;
volatile DWORD g_waitBoundMs = kPipeWaitBoundMs;
}  // namespace

DWORD PipeWaitBoundMs() { return g_waitBoundMs; }

void PipeSetWaitBoundMs(DWORD waitMs) { g_waitBoundMs = waitMs != 0 ? waitMs : kPipeWaitBoundMs; }

CPipeClient::CPipeClient() : m_path(), m_lastError(0) {}

CPipeClient::~CPipeClient() = default;

// Records the error and leaves it in GetLastError() for callers that read it there.
bool CPipeClient::Fail(DWORD error) {
    m_lastError = error;
    SetLastError(error);
    return false;
}

bool CPipeClient::Open(const wchar_t* name) {
    Close();
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    // A cut name would open a different pipe; refuse it instead.
    const int cch = _snwprintf(m_path, MAX_PATH, L"\\\\.\\pipe\\%s", name);
    if (cch < 0 || cch >= MAX_PATH) {
        m_path[0] = L'\0';
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    }
    // While every instance is busy: wait for a free one, kBusyWaitMs at a time,
    // and give up once the bound has passed in all (others may keep taking the
    // instances that free up).
    const DWORD bound = PipeWaitBoundMs();
    const DWORD start = GetTickCount();
    for (;;) {
        m_pipe.reset(CreateFileW(m_path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
        if (m_pipe.valid()) break;
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) return Fail(error);
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= bound) return Fail(ERROR_SEM_TIMEOUT);
        if (!WaitNamedPipeW(m_path, std::min(bound - elapsed, static_cast<DWORD>(kBusyWaitMs)))) {
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

bool CPipeClient::WritePiece(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten) {
    for (unsigned attempt = 0;; ++attempt) {
        cbWritten = 0;
        if (WriteFile(m_pipe.get(), piece, cbPiece, &cbWritten, nullptr)) {
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

// The writing half of PipeSendAndRecvW, once the reply server is up.
bool SendToTarget(const void* data, unsigned length, const wchar_t* targetName) {
    CPipeClient client;
    if (!client.Open(targetName)) {
        FrameworkChannel::TraceWrite(kLevel, kSourceFile, __LINE__,
                                     L"[PipeSendAndRecvW] Initial pipe client failed! err=%d", client.LastError());
        return false;
    }
    unsigned cbWritten = length;
    if (!client.Write(data, cbWritten)) {
        FrameworkChannel::TraceWrite(kLevel, kSourceFile, __LINE__, L"[PipeSendAndRecvW] pipe send failed!. err=%d",
                                     client.LastError());
        return false;
    }
    return true;
}

bool ServerFailed() {
    FrameworkChannel::TraceWrite(kLevel, kSourceFile, __LINE__, L"[PipeSendAndRecvW] Initial pipe server failed!");
    return false;
}

}  // namespace

bool PipeSendAndRecvW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                      CPipeServer& server, HANDLE userObject) {
    if (!server.Initial(replyName, userObject)) return ServerFailed();
    return SendToTarget(data, length, targetName);
}

bool PipeSendAndRecvReplyW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                           CPipeServer& server) {
    if (!server.InitialForReply(replyName)) return ServerFailed();
    return SendToTarget(data, length, targetName);
}

OS::UniqueHandle PipeCreateReplyTimer() { return OS::UniqueHandle(CreateWaitableTimerW(nullptr, TRUE, nullptr)); }

bool PipeStartReplyTimer(HANDLE timer, DWORD waitMs) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(waitMs) * 10000;  // relative, in 100 ns units
    return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}
