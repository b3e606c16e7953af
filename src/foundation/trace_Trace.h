// Trace facility: two independent channels that turn printf-style wide trace
// calls into lines "[tag][process]message" and hand them to the log client.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstddef>

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
// record was delivered.
class ITraceRecordSink {
public:
    virtual bool SendLogWrite(int time, unsigned processId, unsigned threadId, int level,
                              const wchar_t* sourceFile, int line, const wchar_t* text) = 0;

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

    constexpr TraceChannel(Kind kind, ITraceRecordSink& sink, TickSource tick = &DefaultTick)
        : m_kind(kind), m_sink(&sink), m_tick(tick) {}

    // Stores the module tag (passed through the ANSI code page) and the label.
    void Init(const wchar_t* moduleTag);
    void WriteV(int level, const wchar_t* sourceFile, int line, const wchar_t* format, va_list args);
    void Write(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);

    const wchar_t* Tag() const { return m_tag; }
    const wchar_t* Label() const { return m_label; }
    bool IsSending() const { return m_sending; }
    int SkipCount() const { return m_skipCount; }
    // Test hook: back to the load state of the gate (sending, nothing skipped).
    void ResetGate() { m_sending = true; m_skipCount = 0; m_failureTick = 0; }

    static DWORD DefaultTick();

private:
    bool PassGate();
    void EnsureLabel();
    void RecordResult(bool delivered);

    Kind m_kind;
    ITraceRecordSink* m_sink;
    TickSource m_tick;
    bool m_labelReady = false;
    bool m_sending = true;
    int m_skipCount = 0;
    DWORD m_failureTick = 0;
    wchar_t m_tag[kTagChars] = {};
    wchar_t m_label[kLabelChars] = {};
};

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
