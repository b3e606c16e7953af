// Server end of a private reply pipe: an overlapped, message-mode, inbound pipe
// with one or more instances. Reads wait on the instances' events and on an
// optional user object (a timer or a cancel event); when the user object is
// signalled the read ends at once, so the caller's wait is bounded by it.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/win_Handle.h"

class CPipeServer {
public:
    static const unsigned kMaxInstances = 255;
    static const unsigned kFetchBufferBytes = 512000;
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

    // Reads the next chunk of up to size bytes; size receives the bytes read.
    // True for a chunk (a zero-length message gives size 0) and when the user
    // object was signalled (size 0, nothing read: check UserObjectSignalled()).
    // False when the writer closed its end (the instance listens again) or on failure.
    bool ReadChunk(void* buffer, unsigned& size);
    // The whole reply as UTF-16 text. False without reply storage or when the
    // user object was signalled.
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
        OS::UniqueHandle event;
        OS::UniqueFile pipe;
        State state = kConnecting;
        bool connectPending = false;
        // Nothing is outstanding and the last operation completed, so the
        // event is known to be signalled.
        bool completed = false;
    };

    void Release();
    bool InitialInstances(unsigned count, const wchar_t* name, HANDLE userObject);
    bool MakePath(const wchar_t* name);
    bool CreateInstance(SInstance& instance, unsigned index);
    bool CreatePipeWithRetries(SInstance& instance, SECURITY_ATTRIBUTES& sa);
    bool ConnectToNewClient(SInstance& instance);
    bool Reconnect(SInstance& instance);
    bool ReadInstance(SInstance& instance, void* buffer, unsigned& size);
    bool FinishPendingRead(SInstance& instance, bool pending, unsigned& size);
    bool EndOfReply(SInstance& instance);
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
    std::unique_ptr<BYTE[]> m_buf;
};
