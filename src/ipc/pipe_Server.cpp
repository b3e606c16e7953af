#include "ipc/pipe_Server.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "foundation/trace_Trace.h"

using FrameworkChannel::TraceWrite;

namespace {

const wchar_t kSourceFile[] = L".\\pipe_Server";
const size_t kEventNameChars = 260;
// More instances than one wait can take are polled in groups this often.
const DWORD kGroupPollMs = 10;

typedef BOOL(WINAPI* PipeProcessIdFn)(HANDLE, PULONG);

// Resolved at run time: a platform without the call still loads the library.
// Resolved once at load, not in function-local statics, whose guards would
// leave a kernel object behind at every unload of the library.
PipeProcessIdFn KernelPipeCall(const char* name) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr ? reinterpret_cast<PipeProcessIdFn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)))
                             : nullptr;
}
const PipeProcessIdFn g_pipeServerProcessId = KernelPipeCall("GetNamedPipeServerProcessId");
const PipeProcessIdFn g_pipeClientProcessId = KernelPipeCall("GetNamedPipeClientProcessId");

DWORD PipeProcessId(PipeProcessIdFn query, HANDLE pipe) {
    ULONG processId = 0;
    if (query == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    return query(pipe, &processId) ? processId : 0;
}

}  // namespace

bool PipeMakePath(const wchar_t* name, wchar_t* path, size_t cchPath) {
    const int cch = _snwprintf_s(path, cchPath, _TRUNCATE, L"\\\\.\\pipe\\%s", name);
    if (cch >= 0 && static_cast<size_t>(cch) < cchPath) return true;
    path[0] = L'\0';
    return false;
}

DWORD PipeClientProcessId(HANDLE serverEnd) { return PipeProcessId(g_pipeClientProcessId, serverEnd); }

DWORD PipeServerProcessId(HANDLE clientEnd) { return PipeProcessId(g_pipeServerProcessId, clientEnd); }

CPipeServer::CPipeServer() : m_path() {}

CPipeServer::~CPipeServer() { Release(); }

void CPipeServer::Release() {
    for (SInstance& instance : m_instances) CancelPending(instance);
    m_instances.clear();
    m_waitHandles.clear();
    m_count = 0;
    m_userObject = nullptr;
    m_ownedUserObject.reset();
    m_forReply = false;
    m_bounded = false;
    m_expectedWriter = 0;
    m_readError = 0;
    m_dropError = 0;
    m_path[0] = L'\0';
}

// An outstanding connect or read must end before its OVERLAPPED goes away.
void CPipeServer::CancelPending(SInstance& instance) {
    if (!instance.pipe.valid() || !instance.connectPending) return;
    if (CancelIoEx(instance.pipe.get(), &instance.ov)) {
        DWORD ignored = 0;
        GetOverlappedResult(instance.pipe.get(), &instance.ov, &ignored, TRUE);
    }
    instance.connectPending = false;
}

bool CPipeServer::Initial(const wchar_t* name, HANDLE userObject) {
    Release();
    if (userObject == nullptr) {
        wchar_t eventName[kEventNameChars] = {};
        _snwprintf_s(eventName, kEventNameChars, _TRUNCATE, L"PIPE_OBJ_LOCAL_EVENT_%u", GetCurrentThreadId());
        m_ownedUserObject.reset(CreateEventW(nullptr, TRUE, FALSE, eventName));
        if (!m_ownedUserObject) {
            WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] CreateEvent PIPE_OBJ_LOCAL_EVENT Failed! err=%d",
                      GetLastError());
        }
        userObject = m_ownedUserObject.get();
    }
    return InitialInstances(1, name, userObject);
}

bool CPipeServer::Initial(unsigned count, const wchar_t* name, HANDLE userObject) {
    Release();
    return InitialInstances(count, name, userObject);
}

bool CPipeServer::InitialForReply(const wchar_t* name) {
    Release();
    m_forReply = true;
    return InitialInstances(1, name, nullptr);
}

void CPipeServer::StartBound(DWORD waitMs) {
    m_bounded = true;
    m_boundStart = GetTickCount();
    m_boundMs = waitMs;
}

bool CPipeServer::BoundPassed() const { return m_bounded && GetTickCount() - m_boundStart >= m_boundMs; }

// The time-out for the next wait: what is left of the bound, or no limit.
DWORD CPipeServer::TimeLeft() const {
    if (!m_bounded) return INFINITE;
    const DWORD elapsed = GetTickCount() - m_boundStart;
    return elapsed >= m_boundMs ? 0 : m_boundMs - elapsed;
}

bool CPipeServer::InitialInstances(unsigned count, const wchar_t* name, HANDLE userObject) {
    m_count = std::min(std::max(count, 1u), kMaxInstances);
    m_waitHandles.assign(m_count + 1, nullptr);
    m_userObject = userObject;
    if (!MakePath(name)) return false;
    m_instances = std::vector<SInstance>(m_count);
    for (unsigned i = 0; i < m_count; ++i) {
        if (!CreateInstance(m_instances[i], i)) return false;
    }
    m_waitHandles[m_count] = m_userObject;
    return true;
}

bool CPipeServer::MakePath(const wchar_t* name) {
    if (name != nullptr && PipeMakePath(name, m_path, kPathChars)) return true;
    m_path[0] = L'\0';
    const DWORD error = name != nullptr ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER;
    WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] Pipe name does not fit! err=%d name=%s", error,
              name != nullptr ? name : L"");
    SetLastError(error);
    return false;
}

bool CPipeServer::CreateInstance(SInstance& instance, unsigned index) {
    instance.ov = OVERLAPPED();
    if (!m_forReply) {
        instance.event.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
        if (!instance.event) {
            WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] CreateEvent failed! err=%d", GetLastError());
            return false;
        }
        instance.waitHandle = instance.event.get();
        m_waitHandles[index] = instance.waitHandle;
        instance.ov.hEvent = instance.event.get();
    }

    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) {
        WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] InitializeSecurityDescriptor failed! err=%d", GetLastError());
        return false;
    }
    // A null DACL lets a service running under another account answer.
    if (!SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) {
        WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] SetSecurityDescriptorDacl failed! err=%d", GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    if (!CreatePipeWithRetries(instance, index, sa)) return false;
    if (m_forReply) {
        // Without an event in its OVERLAPPED, the pipe signals its own completions.
        instance.waitHandle = instance.pipe.get();
        m_waitHandles[index] = instance.waitHandle;
    }

    if (!ConnectToNewClient(instance)) {
        WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] ConnectToNewClient failed! err=%d", GetLastError());
        return false;
    }
    instance.state = instance.connectPending ? kConnecting : kReading;
    return true;
}

// The first instance must be the first of its name: a name that another server
// holds (busy, or refused as not the first instance) is retried a few times, as
// an earlier reply pipe of this thread may still be closing, and then given up.
bool CPipeServer::CreatePipeWithRetries(SInstance& instance, unsigned index, SECURITY_ATTRIBUTES& sa) {
    const DWORD openMode =
        PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | (index == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    for (unsigned attempt = 0;; ++attempt) {
        instance.pipe.reset(CreateNamedPipeW(m_path, openMode, pipeMode, m_count, kPipeBufferBytes, kPipeBufferBytes,
                                             kDefaultTimeoutMs, &sa));
        DWORD error = instance.pipe.valid() ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_SUCCESS && index == 0 && !IsOwnPipe(instance)) {
            instance.pipe.reset();
            error = ERROR_ACCESS_DENIED;
        }
        if (error == ERROR_SUCCESS) return true;
        if (error != ERROR_PIPE_BUSY && error != ERROR_ACCESS_DENIED) {
            WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] CreateNamedPipe failed! err=%d", error);
            SetLastError(error);
            return false;
        }
        if (attempt == kBusyRetries) {
            WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] Retry %d times. Still Failed!", kBusyRetries);
            WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] Pipe %s belongs to another server! err=%d", m_path,
                      error);
            SetLastError(error);
            return false;
        }
        Sleep(kBusyRetryDelayMs);
    }
}

// Where the system does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE (Wine), a new
// instance may have joined a pipe that someone else created. Such a pipe keeps
// its creator's instance limit: ours is m_count, and a pipe created with the
// same limit would have refused our instance as busy. (255 instances means no
// limit, which this check cannot tell apart; reply pipes have one instance.)
// A pipe whose limit cannot be read cannot be told to be ours.
bool CPipeServer::IsOwnPipe(const SInstance& instance) const {
    DWORD maxInstances = 0;
    if (!GetNamedPipeInfo(instance.pipe.get(), nullptr, nullptr, nullptr, &maxInstances)) {
        WDX_TRACE(kTraceFailure, L"[CPipeServer::Initial] GetNamedPipeInfo failed on %s! err=%d", m_path,
                  GetLastError());
        return false;
    }
    if (m_count >= PIPE_UNLIMITED_INSTANCES) return maxInstances >= PIPE_UNLIMITED_INSTANCES;
    return maxInstances == m_count;
}

bool CPipeServer::ConnectToNewClient(SInstance& instance) {
    instance.connectPending = false;
    instance.completed = false;
    instance.writerChecked = false;
    // A connect that completed before (a writer dropped or refused) left the
    // event set: the next wait must not take that for this connect.
    if (instance.event) ResetEvent(instance.event.get());
    if (ConnectNamedPipe(instance.pipe.get(), &instance.ov)) {
        instance.connectPending = true;
        return true;
    }
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        instance.connectPending = true;
        return true;
    case ERROR_PIPE_CONNECTED:
    case ERROR_NO_DATA:  // the client is already there
        // A reply server's pipe is not waited on before its next read (see NextSignalled).
        instance.completed = !instance.event || SetEvent(instance.event.get()) != FALSE;
        return instance.completed;
    default:
        return false;
    }
}

bool CPipeServer::Reconnect(SInstance& instance) {
    instance.rearm = false;
    if (!DisconnectNamedPipe(instance.pipe.get())) return false;
    if (!ConnectToNewClient(instance)) return false;
    instance.state = instance.connectPending ? kConnecting : kReading;
    return true;
}

// A wait that the bound ends reports the user object's place (m_count).
int CPipeServer::WaitAny() {
    const DWORD cHandles = m_userObject != nullptr ? m_count + 1 : m_count;
    if (cHandles <= MAXIMUM_WAIT_OBJECTS) {
        const DWORD result = WaitForMultipleObjects(cHandles, m_waitHandles.data(), FALSE, TimeLeft());
        if (result == WAIT_TIMEOUT && m_bounded) return static_cast<int>(m_count);
        return result < WAIT_OBJECT_0 + cHandles ? static_cast<int>(result - WAIT_OBJECT_0) : -1;
    }
    // One wait takes at most 64 handles; more instances are polled group by group.
    for (;;) {
        for (DWORD first = 0; first < cHandles; first += MAXIMUM_WAIT_OBJECTS) {
            const DWORD n = std::min<DWORD>(MAXIMUM_WAIT_OBJECTS, cHandles - first);
            const DWORD result = WaitForMultipleObjects(n, &m_waitHandles[first], FALSE, 0);
            if (result < WAIT_OBJECT_0 + n) return static_cast<int>(first + result - WAIT_OBJECT_0);
            if (result != WAIT_TIMEOUT) return -1;
        }
        if (BoundPassed()) return static_cast<int>(m_count);
        Sleep(std::min(kGroupPollMs, TimeLeft()));
    }
}

// A wait for any handle reports the first signalled one, so while the first
// instance's event is known to be set the answer is known without asking the kernel.
int CPipeServer::NextSignalled() { return m_instances[0].completed ? 0 : WaitAny(); }

bool CPipeServer::UserObjectSignalled() const {
    return m_userObject != nullptr && WaitForSingleObject(m_userObject, 0) == WAIT_OBJECT_0;
}

// A false result of ReadChunk that is a failure, not the end of the reply.
bool CPipeServer::ReadFailed(DWORD error) {
    m_readError = error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
    return false;
}

bool CPipeServer::ReadChunk(void* buffer, unsigned& size) {
    m_readError = 0;
    if (buffer == nullptr || size == 0) return ReadFailed(ERROR_INVALID_PARAMETER);
    if (m_instances.empty()) return ReadFailed(ERROR_INVALID_HANDLE);
    static_cast<BYTE*>(buffer)[0] = 0;
    if (m_dropError != 0) return ReadFailed(m_dropError);
    // A reply server listens again only when it is read again after its writer closed.
    if (m_instances[0].rearm && !Reconnect(m_instances[0])) return ReadFailed(GetLastError());
    for (;;) {
        const int signalled = NextSignalled();
        if (signalled < 0) return ReadFailed(GetLastError());
        if (static_cast<unsigned>(signalled) == m_count) {
            size = 0;  // nothing was read; the caller asks UserObjectSignalled()
            return true;
        }
        SInstance& instance = m_instances[signalled];
        instance.completed = false;
        if (instance.connectPending) {
            DWORD cbDone = 0;
            const BOOL ok = GetOverlappedResult(instance.pipe.get(), &instance.ov, &cbDone, FALSE);
            if (instance.state == kConnecting) {
                if (!ok) return ReadFailed(GetLastError());
                instance.state = kReading;
            } else {
                size = cbDone;
                instance.connectPending = false;
                return true;
            }
        }
        if (instance.state != kReading) return ReadFailed(ERROR_PIPE_NOT_CONNECTED);
        const WriterCheck check = CheckWriter(instance);
        if (check == kWriterCheckFailed) return ReadFailed(GetLastError());
        if (check == kWriterAccepted) return ReadInstance(instance, buffer, size);
        // Refused: the instance listens again, and the wait goes on for the service.
    }
}

// Anyone may connect to a reply pipe (null DACL, a predictable name), so the
// writer must be the process that serves the request's connection; one whose
// process cannot be told is refused as well.
CPipeServer::WriterCheck CPipeServer::CheckWriter(SInstance& instance) {
    if (m_expectedWriter == 0 || instance.writerChecked) return kWriterAccepted;
    const DWORD writer = PipeClientProcessId(instance.pipe.get());
    if (writer == 0) {
        WDX_TRACE(kTraceFailure,
                  L"[CPipeServer::ReadChunk] Refused a writer on %s whose process cannot be told, err=%d", m_path,
                  GetLastError());
        return Reconnect(instance) ? kWriterRefused : kWriterCheckFailed;
    }
    if (writer != m_expectedWriter) {
        WDX_TRACE(kTraceFailure,
                  L"[CPipeServer::ReadChunk] Refused writer process %u on %s: the reply must come from process %u",
                  writer, m_path, m_expectedWriter);
        return Reconnect(instance) ? kWriterRefused : kWriterCheckFailed;
    }
    instance.writerChecked = true;
    return kWriterAccepted;
}

void CPipeServer::ExpectWriter(DWORD processId) {
    m_expectedWriter = processId;
    for (SInstance& instance : m_instances) DropEarlyWriter(instance);
}

// A writer that connected before the request was whole guessed the pipe's
// name. The service itself may already be there when it answered at once.
void CPipeServer::DropEarlyWriter(SInstance& instance) {
    if (!instance.pipe.valid() || instance.writerChecked) return;
    if (instance.connectPending) {
        if (instance.state != kConnecting || !HasOverlappedIoCompleted(&instance.ov)) return;  // nobody yet
        DWORD ignored = 0;
        const BOOL connected = GetOverlappedResult(instance.pipe.get(), &instance.ov, &ignored, FALSE);
        instance.connectPending = false;
        instance.state = kReading;
        if (!connected) {  // listen again rather than fail the first read
            ListenAgain(instance);
            return;
        }
    } else if (instance.state != kReading) {
        return;
    }
    const DWORD writer = PipeClientProcessId(instance.pipe.get());
    if (m_expectedWriter != 0 && writer == m_expectedWriter) {
        instance.writerChecked = true;
        instance.completed = true;  // the connect completed: its wait handle is signalled
        return;
    }
    WDX_TRACE(kTraceFailure,
              L"[CPipeServer::ExpectWriter] Dropped writer process %u on %s: it connected before the request was "
              L"written",
              writer, m_path);
    ListenAgain(instance);
}

// A failure here is reported by the next read.
void CPipeServer::ListenAgain(SInstance& instance) {
    if (Reconnect(instance)) return;
    const DWORD error = GetLastError();
    m_dropError = error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

bool CPipeServer::ReadInstance(SInstance& instance, void* buffer, unsigned& size) {
    DWORD cbRead = 0;
    if (ReadFile(instance.pipe.get(), buffer, size, &cbRead, &instance.ov)) {
        // A zero-length message is a message, not the end: later ones still follow.
        size = cbRead;
        instance.connectPending = false;
        instance.completed = true;
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) instance.connectPending = true;  // the read is outstanding
    if (error == ERROR_HANDLE_EOF || error == ERROR_MORE_DATA || error == ERROR_IO_PENDING)
        return FinishPendingRead(instance, error == ERROR_IO_PENDING, size);
    return EndOfReply(instance, error);
}

bool CPipeServer::FinishPendingRead(SInstance& instance, bool pending, unsigned& size) {
    if (pending) {
        // Wait for the data, the user object or the bound, whichever comes first.
        HANDLE waits[2] = {instance.waitHandle, m_userObject};
        const DWORD cWaits = m_userObject != nullptr ? 2 : 1;
        const DWORD result = WaitForMultipleObjects(cWaits, waits, FALSE, TimeLeft());
        if (result != WAIT_OBJECT_0) {
            const DWORD error = result == WAIT_FAILED ? GetLastError() : static_cast<DWORD>(ERROR_SEM_TIMEOUT);
            CancelPending(instance);
            size = 0;
            if (result == WAIT_OBJECT_0 + 1 || (result == WAIT_TIMEOUT && m_bounded)) return true;
            return ReadFailed(error);
        }
    }
    DWORD cbRead = 0;
    const BOOL ok = GetOverlappedResult(instance.pipe.get(), &instance.ov, &cbRead, TRUE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!ok && error != ERROR_MORE_DATA && cbRead == 0) return EndOfReply(instance, error);
    size = cbRead;
    instance.connectPending = false;
    instance.completed = true;
    return true;
}

// The writer closed its end (or the read failed): listen again for the next
// writer, a reply server only once it is read again. Only a writer that is gone
// ends the reply; any other error is a failed read.
bool CPipeServer::EndOfReply(SInstance& instance, DWORD error) {
    instance.connectPending = false;
    if (m_forReply)
        instance.rearm = true;
    else
        Reconnect(instance);
    const bool writerGone = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA ||
                            error == ERROR_HANDLE_EOF;
    return writerGone ? false : ReadFailed(error);
}

bool CPipeServer::FetchCmd(std::wstring& text) {
    text.clear();
    if (!m_buf) m_buf.reset(new (std::nothrow) BYTE[kFetchBufferBytes]);
    if (!m_buf) {
        WDX_TRACE(kTraceFailure, L"[CPipeServer::FetchCmd] m_buf == NULL");
        return false;
    }
    unsigned cbHeld = 0;
    size_t cbTotal = 0;
    for (;;) {
        unsigned cbChunk = kFetchBufferBytes - cbHeld;
        const bool more = ReadChunk(m_buf.get() + cbHeld, cbChunk);
        if (WaitEnded()) return false;
        if (!more && m_readError != 0) {
            // A failure must not read as an empty (or cut) reply.
            WDX_TRACE(kTraceFailure, L"[CPipeServer::FetchCmd] Reading the reply on %s failed! err=%d", m_path,
                      m_readError);
            text.clear();
            return false;
        }
        if (!more) break;
        cbChunk = std::min(cbChunk, kFetchBufferBytes - cbHeld);
        cbTotal += cbChunk;
        if (cbTotal > kMaxReplyBytes) {
            WDX_TRACE(kTraceFailure, L"[CPipeServer::FetchCmd] Reply on %s exceeds %u bytes", m_path, kMaxReplyBytes);
            text.clear();
            return false;
        }
        cbHeld += cbChunk;
        if (cbHeld == kFetchBufferBytes) {
            AppendUnits(text, cbHeld);
            cbHeld = 0;
        }
    }
    AppendUnits(text, cbHeld);
    return true;
}

// Appends cbHeld bytes of m_buf as UTF-16 code units (an odd last byte is dropped).
void CPipeServer::AppendUnits(std::wstring& text, unsigned cbHeld) const {
    const size_t cch = cbHeld / sizeof(wchar_t);
    const size_t start = text.size();
    text.resize(start + cch);
    if (cch != 0) std::memcpy(&text[start], m_buf.get(), cch * sizeof(wchar_t));
}
