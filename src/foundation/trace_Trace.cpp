#include "foundation/trace_Trace.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>
#include <vector>

#include "foundation/mbwc_MBWC.h"

namespace {

// Constant-initialised, so units that trace during their own static set-up
// find both channels whatever the order of initialisation.
TraceChannel g_agentChannel(TraceChannel::kAgent);
TraceChannel g_frameworkChannel(TraceChannel::kFramework);

// Lines of both channels are written one at a time. A line traced while this
// thread is writing one (from its sink, or from code the sink calls) is dropped:
// it would come back into the sink that is busy with the first, and the sink's
// failures would feed themselves. The lock is held across the sink's send, so a
// sink must bound every wait it makes (the log client gives a line up after
// a few seconds, and the failed send then suspends the channel).
class WriterGate {
public:
    bool Enter() {
        const DWORD self = GetCurrentThreadId();
        if (m_owner.load() == self) return false;
        AcquireSRWLockExclusive(&m_lock);
        m_owner.store(self);
        return true;
    }
    void Leave() {
        m_owner.store(0);
        ReleaseSRWLockExclusive(&m_lock);
    }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    std::atomic<DWORD> m_owner{0};
};
WriterGate g_writerGate;

class WriterGateEntry {
public:
    WriterGateEntry() : m_entered(g_writerGate.Enter()) {}
    ~WriterGateEntry() {
        if (m_entered) g_writerGate.Leave();
    }
    WriterGateEntry(const WriterGateEntry&) = delete;
    WriterGateEntry& operator=(const WriterGateEntry&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

const size_t kNarrowChars = 1024;
const size_t kPathChars = MAX_PATH;
const size_t kVersionValueChars = 32;

// Seconds since 1970, low 32 bits as a signed value (negative after 2038).
int CurrentTime32() {
    const unsigned long long seconds = static_cast<unsigned long long>(std::time(nullptr));
    return static_cast<int>(static_cast<unsigned>(seconds & 0xFFFFFFFFull));
}

// Keeps the caller's last error across a trace call, so a caller may trace a
// failure before it reads or returns GetLastError().
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_error(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_error); }

private:
    DWORD m_error;
};

bool QueryVersionString(const std::vector<BYTE>& data, const char* query, char* value, size_t cchValue) {
    char* found = nullptr;
    UINT cchFound = 0;
    if (!VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&found), &cchFound)) return false;
    if (found == nullptr || cchFound == 0 || found[0] == '\0') return false;
    size_t n = 0;
    while (n < cchFound && n + 1 < cchValue && found[n] != '\0') {
        value[n] = found[n];
        ++n;
    }
    value[n] = '\0';
    return true;
}

// The FileVersion string of the first listed translation, else of US English/1252.
bool ReadFileVersion(const char* path, char* value, size_t cchValue) {
    DWORD ignored = 0;
    const DWORD cbInfo = GetFileVersionInfoSizeA(path, &ignored);
    if (cbInfo == 0) return false;
    std::vector<BYTE> data(cbInfo);
    if (!GetFileVersionInfoA(path, 0, cbInfo, data.data())) return false;
    WORD* translation = nullptr;
    UINT cbTranslation = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &cbTranslation) ||
        translation == nullptr || cbTranslation < 2 * sizeof(WORD))
        return false;
    char query[kNarrowChars] = {};
    _snprintf_s(query, kNarrowChars, _TRUNCATE, "\\StringFileInfo\\%04X%04X\\FileVersion", translation[0],
                translation[1]);
    return QueryVersionString(data, query, value, cchValue) ||
           QueryVersionString(data, "\\StringFileInfo\\040904E4\\FileVersion", value, cchValue);
}

}  // namespace

namespace TraceLabel {

void Make(const char* exePath, bool withFileVersion, wchar_t* label, size_t cchLabel) {
    if (label == nullptr || cchLabel == 0) return;
    label[0] = L'\0';
    if (exePath == nullptr || exePath[0] == '\0') return;
    const char* backslash = std::strrchr(exePath, '\\');
    const char* name = backslash != nullptr ? backslash + 1 : exePath;

    char narrow[kNarrowChars] = {};
    char version[kVersionValueChars + 1] = {};
    if (withFileVersion && ReadFileVersion(exePath, version, sizeof version))
        _snprintf_s(narrow, kNarrowChars, _TRUNCATE, "%s:%s", name, version);
    else
        _snprintf_s(narrow, kNarrowChars, _TRUNCATE, "%s", name);

    std::wstring wide;
    if (MBWC::MBToWC(narrow, wide, CP_ACP, 0, nullptr) == 0) return;
    const size_t cch = wide.size() < cchLabel - 1 ? wide.size() : cchLabel - 1;
    wmemcpy(label, wide.c_str(), cch);
    label[cch] = L'\0';
}

}  // namespace TraceLabel

DWORD TraceChannel::DefaultTick() { return GetTickCount(); }

void TraceChannel::Init(const wchar_t* moduleTag) {
    char narrow[kTagChars] = {};
    m_tag[0] = L'\0';
    if (moduleTag != nullptr && MBWC::WCToMB(moduleTag, narrow, kTagChars, CP_ACP, 0) > 0) {
        if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, m_tag, kTagChars) == 0) m_tag[0] = L'\0';
    }
    m_tag[kTagChars - 1] = L'\0';
    m_labelReady = false;
    EnsureLabel();
}

void TraceChannel::EnsureLabel() {
    if (m_labelReady) return;
    char path[kPathChars] = {};
    const DWORD cch = GetModuleFileNameA(nullptr, path, kPathChars);
    path[kPathChars - 1] = '\0';  // a cut path may come back unterminated
    TraceLabel::Make(cch != 0 ? path : nullptr, m_kind == kFramework, m_label, kLabelChars);
    m_labelReady = true;
}

// While suspended, every call counts; only a call after kSkipThreshold dropped
// ones looks at the clock, and only a long enough pause grants a new attempt.
bool TraceChannel::PassGate() {
    if (m_sending) return true;
    if (m_skipCount++ < kSkipThreshold) return false;
    m_skipCount = 0;
    if (static_cast<DWORD>(m_tick() - m_failureTick) > kRetryDelayMs) {
        m_sending = true;
        return true;
    }
    return false;
}

void TraceChannel::RecordResult(bool delivered) {
    if (delivered) {
        m_sending = true;
        return;
    }
    m_sending = false;
    m_failureTick = m_tick();
}

void TraceChannel::WriteV(int level, const wchar_t* sourceFile, int line, const wchar_t* format, va_list args) {
    LastErrorKeeper keepError;
    WriterGateEntry writer;
    ITraceRecordSink* const sink = m_sink.load();
    if (!writer.Entered() || sink == nullptr) return;
    if (!PassGate()) return;
    bool delivered = false;
    try {
        EnsureLabel();

        wchar_t text[kLineChars];
        wmemset(text, L'\0', kLineChars);
        _snwprintf_s(text, kLineChars, _TRUNCATE, L"[%s][%s]", m_tag, m_label);
        const size_t cchPrefix = wcslen(text);
        if (format != nullptr) _vsnwprintf_s(text + cchPrefix, kLineChars - cchPrefix, _TRUNCATE, format, args);
        text[kLineChars - 1] = L'\0';

        delivered = sink->SendLogWrite(CurrentTime32(), GetCurrentProcessId(), GetCurrentThreadId(), level, sourceFile,
                                       line, text);
    } catch (...) {
        // Destructors and catch blocks trace too, so nothing may escape from here;
        // a line that could not be built or sent counts as a failed send.
    }
    RecordResult(delivered);
}

void TraceChannel::Write(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(level, sourceFile, line, format, args);
    va_end(args);
}

void TraceInit(const wchar_t* moduleTag) { g_agentChannel.Init(moduleTag); }

void TraceSetSinks(ITraceRecordSink* agent, ITraceRecordSink* framework) {
    g_agentChannel.SetSink(agent);
    g_frameworkChannel.SetSink(framework);
}

namespace AgentChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    g_agentChannel.WriteV(level, sourceFile, line, format, args);
    va_end(args);
}
void TraceWriteLocal(int, const wchar_t*, int, const wchar_t*, ...) {}
TraceChannel& Channel() { return g_agentChannel; }
}  // namespace AgentChannel

namespace FrameworkChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    g_frameworkChannel.WriteV(level, sourceFile, line, format, args);
    va_end(args);
}
void TraceWriteLocal(int, const wchar_t*, int, const wchar_t*, ...) {}
TraceChannel& Channel() { return g_frameworkChannel; }
}  // namespace FrameworkChannel
