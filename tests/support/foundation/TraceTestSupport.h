// Fakes for driving a TraceChannel without a log server or a real clock.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "foundation/trace_Trace.h"

namespace tracetest {

struct SentRecord {
    int time;
    unsigned processId;
    unsigned threadId;
    int level;
    std::wstring sourceFile;
    int line;
    std::wstring text;
};

// Records every record it is handed and answers with `result`.
class FakeSink : public ITraceRecordSink {
public:
    bool result = true;
    std::vector<SentRecord> sent;

    bool SendLogWrite(int time, unsigned processId, unsigned threadId, int level, const wchar_t* sourceFile, int line,
                      const wchar_t* text) override {
        sent.push_back({time, processId, threadId, level, sourceFile ? sourceFile : L"", line, text ? text : L""});
        return result;
    }
};

// A tick source the test moves by hand.
extern DWORD g_fakeTick;
inline DWORD FakeTick() { return g_fakeTick; }

// File name of this test program, as the process label shows it.
std::wstring OwnExeName();

using testsupport::g_localLines;
using testsupport::LocalLine;
using testsupport::RecordLocal;

}  // namespace tracetest
