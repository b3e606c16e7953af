// Server end of a private reply pipe: an overlapped, message-mode, inbound pipe
// with one or more instances. Reads wait on the instances' events and on an
// optional user object (a timer or a cancel event); when the user object is
// signalled the read ends at once, so the caller's wait is bounded by it. A
// bound set with StartBound ends waits the same way, through wait time-outs.
//
// The first instance must be the first of its name (another process that
// created the name before cannot receive or forge the reply), and remote
// clients are refused; the null DACL stays, so that a service running under
// another account can answer. Since anyone may therefore connect, a reply
// server that knows its service's process (ExpectWriter) disconnects any
// other writer and waits on for the service.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/win_Handle.h"

class CPipeServer {
public:
    static constexpr unsigned kMaxInstances = 255;
    static const unsigned kFetchBufferBytes = 512000;
    // A longer reply fails FetchCmd: a writer cannot make the caller exhaust memory.
    static const unsigned kMaxReplyBytes = 1048576;
    static const size_t kPathChars = 256;  // "\\.\pipe\<name>" plus its NUL
    static const DWORD kPipeBufferBytes = 1024;
    static const DWORD kDefaultTimeoutMs = 1000;
    static const unsigned kBusyRetries = 5;
    static const DWORD kBusyRetryDelayMs = 100;

    CPipeServer();
    ~CPipeServer();
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // One instance. Without a user object the server creates (and owns) the
    // event "PIPE_OBJ_LOCAL_EVENT_<thread id>"; a passed object stays the caller's.
    bool Initial(const wchar_t* name, HANDLE userObject);
    // count is clamped to 1..255. A name whose path does not fit in 255
    // characters fails with ERROR_FILENAME_EXCED_RANGE instead of being cut.
    bool Initial(unsigned count, const wchar_t* name, HANDLE userObject);
    // One instance for one reply, without any kernel object besides the pipe:
    // no user object (bound the reads with StartBound), the waits are on the
    // pipe itself, and the instance listens again only when read again after
    // the writer closed.
    bool InitialForReply(const wchar_t* name);

    // From now on, a read that would wait beyond waitMs from now ends as one
    // ended by a signalled user object does (true, size 0); BoundPassed() then
    // tells it. Costs no kernel object: the waits take the time left as their time-out.
    void StartBound(DWORD waitMs);
    bool BoundPassed() const;
    // True when a read ended without data because the bound passed or the
    // user object was signalled.
    bool WaitEnded() const { return BoundPassed() || UserObjectSignalled(); }

    // Called once the request is written whole. A writer already connected
    // then is disconnected (it cannot be answering that request), unless it is
    // of the expected process; from now on only a writer of this process id
    // (the process that serves the request's connection) is read, and others
    // (or one whose process cannot be told) are disconnected, each with a trace
    // line naming the pipe, while the wait goes on. 0: any later writer (only
    // where the platform cannot tell processes).
    void ExpectWriter(DWORD processId);

    // Reads the next chunk of up to size bytes; size receives the bytes read.
    // True for a chunk (a zero-length message gives size 0) and when the user
    // object was signalled (size 0, nothing read: check UserObjectSignalled()).
    // False when the writer closed its end (the instance listens again) or on
    // failure; ReadError() tells which.
    bool ReadChunk(void* buffer, unsigned& size);
    // After ReadChunk returned false: 0 when the writer closed its end (the
    // reply is complete), else the Win32 error of the failed connect, reconnect,
    // wait or read.
    DWORD ReadError() const { return m_readError; }
    // The whole reply as UTF-16 text; an empty reply that a writer sent is an
    // empty text. False (with a trace line) without reply storage, when the
    // connect, a reconnect or a read failed, or for a reply over kMaxReplyBytes;
    // false when the user object was signalled (or the bound passed).
    bool FetchCmd(std::wstring& text);

    // True when there is a user object and it is signalled now.
    bool UserObjectSignalled() const;
    unsigned InstanceCount() const { return m_count; }
    const wchar_t* GetPath() const { return m_path; }
    HANDLE UserObject() const { return m_userObject; }

private:
    enum State { kConnecting = 0, kReading = 1 };
    struct SInstance {
        OVERLAPPED ov = {};
        OS::UniqueHandle event;  // none for a reply server: the pipe itself is waited on
        OS::UniqueFile pipe;
        HANDLE waitHandle = nullptr;  // the event, or the pipe
        State state = kConnecting;
        // An overlapped connect or read is outstanding.
        bool connectPending = false;
        // Nothing is outstanding and the last operation completed, so the
        // wait handle is known to be signalled.
        bool completed = false;
        // The writer closed; the instance listens again when it is next read.
        bool rearm = false;
        // The connected writer's process was checked against the expected one.
        bool writerChecked = false;
    };
    enum WriterCheck { kWriterAccepted, kWriterRefused, kWriterCheckFailed };

    void Release();
    bool InitialInstances(unsigned count, const wchar_t* name, HANDLE userObject);
    bool MakePath(const wchar_t* name);
    bool CreateInstance(SInstance& instance, unsigned index);
    bool CreatePipeWithRetries(SInstance& instance, unsigned index, SECURITY_ATTRIBUTES& sa);
    bool IsOwnPipe(const SInstance& instance) const;
    DWORD TimeLeft() const;
    bool ConnectToNewClient(SInstance& instance);
    bool Reconnect(SInstance& instance);
    WriterCheck CheckWriter(SInstance& instance);
    void DropEarlyWriter(SInstance& instance);
    void ListenAgain(SInstance& instance);
    bool ReadInstance(SInstance& instance, void* buffer, unsigned& size);
    bool FinishPendingRead(SInstance& instance, bool pending, unsigned& size);
    bool EndOfReply(SInstance& instance, DWORD error);
    bool ReadFailed(DWORD error);
    // Index of a signalled instance, m_count for the user object, -1 on failure.
    int WaitAny();
    int NextSignalled();
    void AppendUnits(std::wstring& text, unsigned cbHeld) const;
    static void CancelPending(SInstance& instance);

    unsigned m_count = 0;
    std::vector<HANDLE> m_waitHandles;  // not owned: the instances' events, then the user object
    wchar_t m_path[kPathChars];
    std::vector<SInstance> m_instances;  // sized once, so the OVERLAPPEDs never move
    HANDLE m_userObject = nullptr;
    OS::UniqueHandle m_ownedUserObject;
    bool m_forReply = false;
    bool m_bounded = false;
    DWORD m_boundStart = 0;
    DWORD m_boundMs = 0;
    DWORD m_expectedWriter = 0;
    DWORD m_readError = 0;
    DWORD m_dropError = 0;          // an early writer could not be disconnected
    std::unique_ptr<BYTE[]> m_buf;  // FetchCmd's, allocated on its first use
};

// What the client end (pipe_Util) shares with the server end:
// "\\.\pipe\<name>" into path (cchPath characters with its NUL). A path that
// does not fit is refused, not cut (it would name another pipe): false, path empty.
bool PipeMakePath(const wchar_t* name, wchar_t* path, size_t cchPath);
// The id of the process at the client end of a server's pipe instance, and at
// the server end of a client's; 0 when the platform cannot tell (the error is in
// GetLastError(): ERROR_CALL_NOT_IMPLEMENTED where the platform lacks the call).
DWORD PipeClientProcessId(HANDLE serverEnd);
DWORD PipeServerProcessId(HANDLE clientEnd);
