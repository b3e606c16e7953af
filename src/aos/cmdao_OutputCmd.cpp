#include "aos/cmdao_OutputCmd.h"

#include <cwchar>
#include <memory>
#include <new>

#include "foundation/trace_Trace.h"
#include "ipc/pipe_Server.h"

using FrameworkChannel::TraceWrite;

const wchar_t kServerCmdPipeName[] = L"Norvale KPSE Command Handler Manager";

namespace {

const wchar_t kSourceFile[] = L".\\cmdao_OutputCmd";

unsigned ByteCount(const SCmdaoExchange& exchange) {
    if (exchange.byteLength >= 0) return static_cast<unsigned>(exchange.byteLength);
    return static_cast<unsigned>(wcslen(exchange.text) * sizeof(wchar_t));
}

// Starts one exchange: its reply pipe, then the command. The reply server needs
// no kernel object but its pipe; the bound is kept through its waits' time-outs.
bool Send(SCmdaoExchange& exchange, CPipeServer& server, DWORD replyWaitMs) {
    if (exchange.text == nullptr) exchange.text = L"";
    if (exchange.replyPipe == nullptr) exchange.replyPipe = L"";
    const unsigned cbText = ByteCount(exchange);
    // The text need not end in a NUL: trace exactly the characters sent.
    WDX_TRACE(kTraceProgress, L"[cmdao_PipeSendAndRecv] Send: %s",
              std::wstring(exchange.text, cbText / sizeof(wchar_t)).c_str());
    if (PipeServiceStalled(kServerCmdPipeName)) {
        WDX_TRACE(kTraceFailure,
                  L"[cmdao_PipeSendAndRecv] Not sent on %s: the command handler let an earlier command time out",
                  exchange.replyPipe);
        return false;
    }
    if (!PipeSendAndRecvReplyW(exchange.text, cbText, exchange.replyPipe, kServerCmdPipeName, server)) {
        if (GetLastError() == ERROR_SEM_TIMEOUT) PipeMarkServiceStalled(kServerCmdPipeName);
        return false;
    }
    server.StartBound(replyWaitMs);
    return true;
}

void Collect(SCmdaoExchange& exchange, CPipeServer& server, DWORD replyWaitMs) {
    exchange.answered = server.FetchCmd(exchange.reply);
    if (exchange.answered) return;
    exchange.reply.clear();
    if (server.BoundPassed()) {
        WDX_TRACE(kTraceFailure, L"[cmdao_PipeSendAndRecv] no reply on pipe %s within %u ms", exchange.replyPipe,
                  replyWaitMs);
        PipeMarkServiceStalled(kServerCmdPipeName);
    }
}

void SendAllAndRecv(SCmdaoExchange* const* exchanges, size_t count, DWORD replyWaitMs) {
    std::unique_ptr<CPipeServer[]> servers(new CPipeServer[count]);
    std::unique_ptr<bool[]> sent(new bool[count]);
    for (size_t i = 0; i < count; ++i) sent[i] = Send(*exchanges[i], servers[i], replyWaitMs);
    // The replies were all under way before the first wait, so reading them in
    // turn costs the slowest of them, not their sum.
    for (size_t i = 0; i < count; ++i)
        if (sent[i]) Collect(*exchanges[i], servers[i], replyWaitMs);
}

void Reset(SCmdaoExchange* const* exchanges, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        exchanges[i]->reply.clear();
        exchanges[i]->answered = false;
    }
}

}  // namespace

void cmdao_PipeSendAllAndRecv(SCmdaoExchange* const* exchanges, size_t count, DWORD replyWaitMs) {
    if (exchanges == nullptr) return;
    Reset(exchanges, count);
    if (replyWaitMs == 0) replyWaitMs = PipeWaitBoundMs();
    // The console's wrappers must not throw: a failed allocation fails the commands.
    try {
        SendAllAndRecv(exchanges, count, replyWaitMs);
    } catch (...) {
        WDX_TRACE(kTraceFailure, L"[cmdao_PipeSendAndRecv] out of memory");
        Reset(exchanges, count);
    }
}

bool cmdao_PipeSendAndRecv(const wchar_t* text, int byteLength, const wchar_t* replyPipe, std::wstring& reply,
                           DWORD replyWaitMs) {
    SCmdaoExchange exchange;
    exchange.text = text;
    exchange.byteLength = byteLength;
    exchange.replyPipe = replyPipe;
    SCmdaoExchange* const one = &exchange;
    cmdao_PipeSendAllAndRecv(&one, 1, replyWaitMs);
    reply.swap(exchange.reply);
    return exchange.answered;
}
