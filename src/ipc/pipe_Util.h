// Client end of the services' named pipes: opens a message-type pipe for
// writing and writes command texts into it. Every wait is bounded: the open's
// wait for a free instance and the writes share one bound, taken from the open
// (a reader that never reads cannot hold a writer). CPipeClient traces nothing itself:
// the log client sends every trace line through it, and a line traced from
// there would only be dropped by the trace facility's re-entry guard. Every
// failure leaves its Win32 error code in GetLastError() and LastError() for the
// caller to report. PipeSendAndRecvW, used by command
// dispatch only, traces its failures.
#pragma once
#include <windows.h>

#include "foundation/win_Handle.h"

class CPipeServer;

class CPipeClient {
public:
    CPipeClient();
    ~CPipeClient();
    CPipeClient(const CPipeClient&) = delete;
    CPipeClient& operator=(const CPipeClient&) = delete;

    // Opens "\\.\pipe\<name>" for writing, waiting while all instances are busy
    // (kBusyWaitMs at a time), and switches it to message read mode. boundMs (0:
    // PipeWaitBoundMs()) bounds that wait and every later write of this
    // connection together; once it has passed they fail with ERROR_SEM_TIMEOUT.
    // The server may identify the caller but not act as it (kOpenFlags). A name
    // whose path does not fit in 259 characters fails with ERROR_FILENAME_EXCED_RANGE.
    bool Open(const wchar_t* name, DWORD boundMs = 0);
    // Writes length bytes as pipe messages of at most 1024 bytes each; length
    // receives the bytes written (also on failure).
    bool Write(const void* data, unsigned& length);
    // Writes all bytes as one pipe message; length receives the bytes written.
    bool WriteWhole(const void* data, unsigned& length);
    // The id of the process that serves the open pipe; 0 when it cannot be
    // told (the error is in GetLastError(): ERROR_CALL_NOT_IMPLEMENTED where the
    // platform lacks the call).
    DWORD ServerProcessId() const;
    void Close();

    bool IsOpen() const { return m_pipe.valid(); }
    const wchar_t* GetPath() const { return m_path; }
    // Win32 error code of the last failed operation (0 after a success).
    DWORD LastError() const { return m_lastError; }

    static const unsigned kPieceBytes = 1024;
    // A write refused for lack of system resources is repeated this often,
    // kResourceRetryDelayMs apart, before it counts as failed.
    static const unsigned kResourceRetries = 100;
    static const DWORD kResourceRetryDelayMs = 10;
    static const DWORD kBusyWaitMs = 20000;
    // A process that poses as a service cannot impersonate the client; the
    // writes are overlapped so that their waits can be bounded.
    static const DWORD kOpenFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | FILE_FLAG_OVERLAPPED;

private:
    bool Fail(DWORD error);
    DWORD TimeLeft() const;
    bool WritePiece(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten);
    bool WriteBounded(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten);

    OS::UniqueFile m_pipe;
    wchar_t m_path[MAX_PATH];
    DWORD m_lastError;
    DWORD m_boundStart = 0;
    DWORD m_boundMs = 0;
};

// The bound on a requester's waits: for a free instance of a service's busy
// pipe (CPipeClient::Open, in all) and for the service's reply.
const DWORD kPipeWaitBoundMs = 60000;
// How long a requester waits for a service's reply (connect and data) by default.
const DWORD kPipeReplyWaitMs = kPipeWaitBoundMs;
// The bound in force in this process: kPipeWaitBoundMs unless a test shortened it.
DWORD PipeWaitBoundMs();
// Shortens the bound for this process (tests); 0 restores kPipeWaitBoundMs.
// A new bound also forgets the stalled services below.
void PipeSetWaitBoundMs(DWORD waitMs);

// Services that let the bound pass on a request of this process (no reply in
// time, or a pipe that stayed busy or unread). Callers send such a service
// nothing more, so that many requests in a row cost about one bound, not one each.
bool PipeServiceStalled(const wchar_t* targetName);
void PipeMarkServiceStalled(const wchar_t* targetName);

// Starts the reply server on replyName (one instance; userObject bounds its
// reads, see CPipeServer) and then writes data into the target pipe in pieces
// of at most 1024 bytes, within the process's bound. The reply server then
// accepts only a writer from the process that serves the connection the data
// is written to (asked as soon as it opened; nothing is sent when that process
// cannot be told) and drops any writer that connected before the data was
// written. The
// caller reads the reply from server and destroys it. On failure
// GetLastError() is ERROR_SEM_TIMEOUT when the bound passed.
bool PipeSendAndRecvW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                      CPipeServer& server, HANDLE userObject);
// The same with a reply server that needs no kernel object but its pipe
// (CPipeServer::InitialForReply); the caller bounds the reads with StartBound.
bool PipeSendAndRecvReplyW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                           CPipeServer& server);
