#include "diag/logcl_Command.h"

#include <climits>
#include <cwchar>

#include "ipc/cmd_Protocol.h"
#include "ipc/pipe_Util.h"

namespace {
const wchar_t kSourceFile[] = L".\\logcl_Command";
const int kFailureLevel = 5;

CLogClient g_agentLogClient(CLogClient::kWriteWhole, &AgentChannel::TraceWriteLocal);
CLogClient g_frameworkLogClient(CLogClient::kWritePieces, &FrameworkChannel::TraceWriteLocal);
}  // namespace

void InstallLogClients() { TraceSetSinks(&g_agentLogClient, &g_frameworkLogClient); }

bool CLogClient::SendLogWrite(int time, unsigned processId, unsigned threadId, int level, const wchar_t* sourceFile,
                              int line, const wchar_t* text) {
    CCmdProtocol command;
    command.AddField(L"LOG_WRITE")
        .AddInt(time)
        .AddUInt(processId)
        .AddUInt(threadId)
        .AddInt(level)
        .AddField(sourceFile)
        .AddInt(line)
        .AddField(text);
    return SendToLogServer(command.GetText());
}

bool CLogClient::SendToLogServer(const wchar_t* command) {
    CPipeClient client;
    if (!client.Open(m_pipeName, m_lineBoundMs)) {
        const DWORD error = client.LastError();
        client.Close();
        if (error == ERROR_FILE_NOT_FOUND) {
            if (!m_hintWritten) {
                m_localTrace(kFailureLevel, kSourceFile, __LINE__, L"Need to Start LogServer for turn on debug log.");
                m_hintWritten = true;
            }
        } else {
            m_localTrace(kFailureLevel, kSourceFile, __LINE__, L"Initial pipe client failed! err=%d", error);
        }
        return false;
    }
    const DWORD error = WriteCommand(client, command);
    if (error != 0) {
        client.Close();
        m_localTrace(kFailureLevel, kSourceFile, __LINE__, L"pipe send failed!. err=%d", error);
        return false;
    }
    client.Close();
    return true;
}

DWORD CLogClient::WriteCommand(CPipeClient& client, const wchar_t* command) {
    if (command == nullptr) command = L"";
    const size_t cch = wcslen(command) + 1;  // the NUL travels with the text
    if (cch > UINT_MAX / sizeof(wchar_t)) return ERROR_ARITHMETIC_OVERFLOW;
    unsigned cb = static_cast<unsigned>(cch * sizeof(wchar_t));
    const unsigned cbExpected = cb;
    const bool ok = m_mode == kWriteWhole ? client.WriteWhole(command, cb) : client.Write(command, cb);
    if (!ok) return client.LastError() != 0 ? client.LastError() : ERROR_WRITE_FAULT;
    return cb == cbExpected ? 0 : ERROR_WRITE_FAULT;
}
