#include "TraceCapture.h"

#include <cwchar>

#include "foundation/trace_Trace.h"

namespace testsupport {

namespace {

// "[tag][label]message": the message starts after the second closing bracket.
std::wstring MessageOf(const std::wstring& text) {
    size_t close = text.find(L']');
    if (close != std::wstring::npos) close = text.find(L']', close + 1);
    return close == std::wstring::npos ? text : text.substr(close + 1);
}

// Field 8 onwards: a traced text may itself hold TABs.
std::wstring TextField(const peers::LogRecord& record) {
    std::wstring text;
    for (size_t i = 7; i < record.fields.size(); ++i) text += (i == 7 ? L"" : L"\t") + record.fields[i];
    return text;
}

}  // namespace

TraceCapture::TraceCapture() {
    m_started = m_peer.Start();
    AgentChannel::Channel().ResetGate();
    FrameworkChannel::Channel().ResetGate();
}

std::vector<TraceLine> TraceCapture::Lines() const {
    std::vector<TraceLine> lines;
    for (const peers::LogRecord& record : m_peer.Records()) {
        TraceLine line;
        line.level = _wtoi(record.Field(4).c_str());
        line.sourceFile = record.Field(5);
        line.line = _wtoi(record.Field(6).c_str());
        line.text = MessageOf(TextField(record));
        lines.push_back(line);
    }
    return lines;
}

bool TraceCapture::HasLine(const std::wstring& sourceFile, int level, const std::wstring& part) const {
    return WaitForLine(sourceFile, level, part, 0);
}

bool TraceCapture::WaitForLine(const std::wstring& sourceFile, int level, const std::wstring& part, DWORD timeoutMs,
                               TraceLine* found) const {
    const DWORD start = GetTickCount();
    for (;;) {
        for (const TraceLine& line : Lines()) {
            if (line.sourceFile == sourceFile && line.level == level && line.text.find(part) != std::wstring::npos) {
                if (found != nullptr) *found = line;
                return true;
            }
        }
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

}  // namespace testsupport
