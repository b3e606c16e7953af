// Client end of the services' named pipes: opens a message-type pipe for
// writing and writes command texts into it. CPipeClient traces nothing itself:
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
    // (kBusyWaitMs at a time, PipeWaitBoundMs() in all, then ERROR_SEM_TIMEOUT),
    // and switches it to message read mode. The server may identify the caller
    // but not act as it (kOpenFlags). A name whose path does not fit in 259
    // characters fails with ERROR_FILENAME_EXCED_RANGE.
    bool Open(const wchar_t* name);
    // Writes length bytes as pipe messages of at most 1024 bytes each; length
    // receives the bytes written (also on failure).
    bool Write(const void* data, unsigned& length);
    // Writes all bytes as one pipe message; length receives the bytes written.
    bool WriteWhole(const void* data, unsigned& length);
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
    // A process that poses as a service cannot impersonate the client.
    static const DWORD kOpenFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

private:
    bool Fail(DWORD error);
    bool WritePiece(const BYTE* piece, DWORD cbPiece, DWORD& cbWritten);

    OS::UniqueFile m_pipe;
    wchar_t m_path[MAX_PATH];
    DWORD m_lastError;
};

// The bound on a requester's waits: for a free instance of a service's busy
// pipe (CPipeClient::Open, in all) and for the service's reply.
const DWORD kPipeWaitBoundMs = 60000;
// How long a requester waits for a service's reply (connect and data) by default.
const DWORD kPipeReplyWaitMs = kPipeWaitBoundMs;
// The bound in force in this process: kPipeWaitBoundMs unless a test shortened it.
DWORD PipeWaitBoundMs();
// Shortens the bound for this process (tests); 0 restores kPipeWaitBoundMs.
void PipeSetWaitBoundMs(DWORD waitMs);

// Starts the reply server on replyName (one instance; userObject bounds its
// reads, see CPipeServer) and then writes data into the target pipe in pieces
// of at most 1024 bytes. The caller reads the reply from server and destroys it.
bool PipeSendAndRecvW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                      CPipeServer& server, HANDLE userObject);
// The same with a reply server that needs no kernel object but its pipe
// (CPipeServer::InitialForReply); the caller bounds the reads with StartBound.
bool PipeSendAndRecvReplyW(const void* data, unsigned length, const wchar_t* replyName, const wchar_t* targetName,
                           CPipeServer& server);

// A manual-reset waitable timer, not yet running, to pass as a reply server's
// user object; empty on failure (the error is in GetLastError()).
OS::UniqueHandle PipeCreateReplyTimer();
// Lets the timer fire waitMs from now.
bool PipeStartReplyTimer(HANDLE timer, DWORD waitMs);
