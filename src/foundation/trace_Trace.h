// Trace facility: two independent channels that turn printf-style wide trace
// calls into lines "[tag][process]message" and hand them to a record sink. Every
// layer traces through it, so it sits at the bottom; the log client that sends the
// records to the log server lives above the pipes and is installed at start-up
// (InstallLogClients). Until then, lines go nowhere.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>

// Levels of the library's lines; the facility passes them through unchanged and
// the log server files by them.
enum TraceLevel : int {
    kTraceFailure = 5,         // failures of steps, pipes, registry, log client, cookie checks
    kTraceDetail = 6,          // record fields; console function entry and exit
    kTraceProgress = 8,        // progress of steps; console cookie details
    kTraceFlow = 68,           // entry, exit and reply details; the cookie header
    kTraceCookieFailure = 69,  // a console cookie failure
    kTraceCodePage = 70,       // a code-page conversion failure
    kTraceConsole = 73,        // console start and single sign-on
    kTraceService = 87,        // service SDK, registry and helper-load failures; unregistration replies
};

// The call form of every unit: the unit defines kSourceFile once and brings its
// channel's TraceWrite into scope; the line is the caller's.
#define WDX_TRACE(level, ...) TraceWrite((level), kSourceFile, __LINE__, __VA_ARGS__)

// Gives the agent channel its module tag and computes its process label.
// Called once from DllMain on process attach.
void TraceInit(const wchar_t* moduleTag);

// Channel used by the patch agent units and the code-page helpers.
namespace AgentChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
// Local sink for the log client's own failures; none is configured, so it does nothing.
void TraceWriteLocal(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
}  // namespace AgentChannel

// Channel used by the framework units (SDK, dispatch, pipes, registry, console).
namespace FrameworkChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
void TraceWriteLocal(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
}  // namespace FrameworkChannel

// Where a channel delivers its records (the log client). Returns true when the
// record was delivered. A sink must not rely on tracing: a line traced on the
// thread that is already writing one is dropped. Every tracing thread waits
// while one record is sent, so a sink must bound its waits.
class ITraceRecordSink {
public:
    virtual bool SendLogWrite(int time, unsigned processId, unsigned threadId, int level, const wchar_t* sourceFile,
                              int line, const wchar_t* text) = 0;

protected:
    ~ITraceRecordSink() = default;
};

// State of one channel. The two library channels are static instances; tests
// build their own with a fake tick source and a fake sink.
class TraceChannel {
public:
    typedef DWORD (*TickSource)();
    enum Kind { kAgent, kFramework };  // the framework label carries the file version

    static const int kSkipThreshold = 10;
    static const DWORD kRetryDelayMs = 5000;
    static const size_t kLineChars = 4096;
    static const size_t kTagChars = 1024;
    static const size_t kLabelChars = 260;

    constexpr explicit TraceChannel(Kind kind) : m_kind(kind), m_sink(nullptr), m_tick(&DefaultTick) {}
    constexpr TraceChannel(Kind kind, ITraceRecordSink& sink, TickSource tick = &DefaultTick)
        : m_kind(kind), m_sink(&sink), m_tick(tick) {}
    TraceChannel(const TraceChannel&) = delete;
    TraceChannel& operator=(const TraceChannel&) = delete;

    // Where records go from now on; null drops them without touching the gate.
    void SetSink(ITraceRecordSink* sink) { m_sink.store(sink); }

    // Stores the module tag (passed through the ANSI code page) and the label.
    void Init(const wchar_t* moduleTag);
    void WriteV(int level, const wchar_t* sourceFile, int line, const wchar_t* format, va_list args);
    void Write(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);

    const wchar_t* Tag() const { return m_tag; }
    const wchar_t* Label() const { return m_label; }
    bool IsSending() const { return m_sending; }
    int SkipCount() const { return m_skipCount; }
    // Test hook: back to the load state of the gate (sending, nothing skipped).
    void ResetGate() {
        m_sending = true;
        m_skipCount = 0;
        m_failureTick = 0;
    }

    static DWORD DefaultTick();

private:
    bool PassGate();
    void EnsureLabel();
    void RecordResult(bool delivered);

    Kind m_kind;
    std::atomic<ITraceRecordSink*> m_sink;
    TickSource m_tick;
    bool m_labelReady = false;
    bool m_sending = true;
    int m_skipCount = 0;
    DWORD m_failureTick = 0;
    wchar_t m_tag[kTagChars] = {};
    wchar_t m_label[kLabelChars] = {};
};

// Routes the two library channels to their sinks (null: drop their lines).
void TraceSetSinks(ITraceRecordSink* agent, ITraceRecordSink* framework);

namespace AgentChannel {
TraceChannel& Channel();  // test hook
}
namespace FrameworkChannel {
TraceChannel& Channel();  // test hook
}

namespace TraceLabel {
// Label of the executable at exePath: its file name (the text after the last
// backslash, the whole path when there is none), followed by ":" and at most 32
// characters of its FileVersion string when withFileVersion is set and it has
// one. A null path gives an empty label. label receives at most cchLabel - 1
// characters and is always terminated.
void Make(const char* exePath, bool withFileVersion, wchar_t* label, size_t cchLabel);
}  // namespace TraceLabel
