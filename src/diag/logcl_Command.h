// Log client: sends one trace record as a LOG_WRITE command into the log
// server's pipe. Its own failures go only to the channel's local trace entry,
// never back through the trace facility. A line is given up after
// kLineBoundMs (a pipe that stays busy, or a reader that never reads), and the
// trace facility then suspends the channel as for a missing log server: the
// facility's lock is held across the send, so this bounds every tracing thread.
#pragma once
#include "foundation/trace_Trace.h"

class CPipeClient;

class CLogClient : public ITraceRecordSink {
public:
    typedef void (*LocalTrace)(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
    enum WriteMode {
        kWritePieces,  // pipe messages of at most 1024 bytes (framework channel)
        kWriteWhole    // one pipe message (agent channel)
    };

    static constexpr const wchar_t* kPipeName = L"Log_ServerNamePipe";
    static const DWORD kLineBoundMs = 3000;

    constexpr CLogClient(WriteMode mode, LocalTrace localTrace, const wchar_t* pipeName = kPipeName,
                         DWORD lineBoundMs = kLineBoundMs)
        : m_mode(mode), m_localTrace(localTrace), m_pipeName(pipeName), m_lineBoundMs(lineBoundMs) {}

    // Builds LOG_WRITE, time, pid, tid, level, file, line, text (a null file or
    // text gives an empty field) and sends it. True when it was written completely.
    bool SendLogWrite(int time, unsigned processId, unsigned threadId, int level, const wchar_t* sourceFile, int line,
                      const wchar_t* text) override;
    // Writes the command text with its terminating NUL; expects no answer.
    bool SendToLogServer(const wchar_t* command);

    // True once the "log server is not running" hint has been written.
    bool HintWritten() const { return m_hintWritten; }

private:
    // Returns 0 or the Win32 error code of the failed write.
    DWORD WriteCommand(CPipeClient& client, const wchar_t* command);

    WriteMode m_mode;
    LocalTrace m_localTrace;
    const wchar_t* m_pipeName;
    DWORD m_lineBoundMs;
    bool m_hintWritten = false;
};

// Routes the two trace channels to their log clients: the agent channel writes
// each record as one pipe message, the framework channel in 1024-byte pieces.
// The library calls it when it loads; a program that links the layers without
// the DLL calls it before it traces.
void InstallLogClients();
