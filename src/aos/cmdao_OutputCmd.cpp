#include "aos/cmdao_OutputCmd.h"

#include <cwchar>

#include "foundation/trace_Trace.h"
#include "ipc/pipe_Server.h"

using FrameworkChannel::TraceWrite;

const wchar_t kServerCmdPipeName[] = L"Norvale KPSE Command Handler Manager";

namespace {
const wchar_t kSourceFile[] = L".\\cmdao_OutputCmd";
}  // namespace

bool cmdao_PipeSendAndRecv(const wchar_t* text, int byteLength, const wchar_t* replyPipe, std::wstring& reply,
                           DWORD replyWaitMs) {
    reply.clear();
    if (text == nullptr) text = L"";
    const size_t cchText = byteLength < 0 ? wcslen(text) : static_cast<size_t>(byteLength) / sizeof(wchar_t);
    const unsigned cbText = byteLength < 0 ? static_cast<unsigned>(cchText * sizeof(wchar_t))
                                           : static_cast<unsigned>(byteLength);
    CPipeServer server;
    // The text need not end in a NUL: trace exactly the characters sent.
    TraceWrite(8, kSourceFile, __LINE__, L"[cmdao_PipeSendAndRecv] Send: %s", std::wstring(text, cchText).c_str());

    OS::UniqueHandle timer = PipeCreateReplyTimer();
    if (!timer) {
        TraceWrite(5, kSourceFile, __LINE__, L"[cmdao_PipeSendAndRecv] CreateWaitableTimer failed! err=%d",
                   GetLastError());
        return false;
    }
    if (!PipeSendAndRecvW(text, cbText, replyPipe, kServerCmdPipeName, server, timer.get())) return false;
    if (!PipeStartReplyTimer(timer.get(), replyWaitMs)) {
        TraceWrite(5, kSourceFile, __LINE__, L"[cmdao_PipeSendAndRecv] SetWaitableTimer failed! err=%d",
                   GetLastError());
        return false;
    }
    if (server.FetchCmd(reply)) return true;
    if (server.UserObjectSignalled()) {
        TraceWrite(5, kSourceFile, __LINE__, L"[cmdao_PipeSendAndRecv] no reply on pipe %s within %u ms", replyPipe,
                   replyWaitMs);
    }
    reply.clear();
    return false;
}
