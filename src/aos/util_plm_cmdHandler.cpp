#include "aos/util_plm_cmdHandler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/trace_Trace.h"
#include "ipc/cmd_Protocol.h"
#include "ipc/pipe_Server.h"
#include "ipc/util_ipc_msg_buffer.h"

using FrameworkChannel::TraceWrite;

const wchar_t kAoSMgrPipeName[] = L"Norvale KpsAoSMgr Command Handler Manager";

namespace {

const wchar_t kSourceFile[] = L".\\util_plm_cmdHandler";
const size_t kNumberChars = 256;
const unsigned kReplyChunkBytes = 1024;

std::wstring SignedDecimal(DWORD value) {
    wchar_t digits[kNumberChars] = {};
    _itow_s(static_cast<int>(value), digits, kNumberChars, 10);
    return digits;
}

// The payload travels as BytesUsed() / 2 UTF-16 units, NULs included; an odd last byte stays behind.
std::wstring PayloadUnits(const CIPCMsgBuffer& request) {
    std::wstring units(request.BytesUsed() / sizeof(wchar_t), L'\0');
    if (!units.empty()) std::memcpy(&units[0], request.GetData(), units.size() * sizeof(wchar_t));
    return units;
}

enum ReplyResult { kReplyWhole, kReplyLate, kReplyTooLong, kReplyFailed };

// Reads the reply in chunks until the service closes its end. Late when the
// bound passed first: a wait that the bound ends reads nothing, and a service
// that keeps writing is stopped by the check after every chunk (the tick count,
// no kernel call). A reply over the cap is given up as soon as it passes it. A
// failed connect or read fails the reply rather than ending it.
ReplyResult CollectReply(CPipeServer& server, std::vector<BYTE>& bytes) {
    BYTE chunk[kReplyChunkBytes];
    for (;;) {
        unsigned cbChunk = kReplyChunkBytes;
        if (!server.ReadChunk(chunk, cbChunk)) return server.ReadError() == 0 ? kReplyWhole : kReplyFailed;
        if (server.BoundPassed()) return kReplyLate;
        cbChunk = std::min(cbChunk, kReplyChunkBytes);
        if (bytes.size() + cbChunk > CPipeServer::kMaxReplyBytes) return kReplyTooLong;
        bytes.insert(bytes.end(), chunk, chunk + cbChunk);
    }
}

// The reply server needs no kernel object but its pipe, and the bound on the
// reply is kept through the waits' time-outs: the call costs little more than a
// bare request and reply.
bool SendAndCollect(const CCmdProtocol& command, const wchar_t* name, const std::wstring& replyPipe, DWORD replyWaitMs,
                    CIPCMsgBuffer& reply) {
    CPipeServer server;
    const unsigned cbCommand = static_cast<unsigned>(command.GetLength()) * sizeof(wchar_t);
    if (!PipeSendAndRecvReplyW(command.GetText(), cbCommand, replyPipe.c_str(), kAoSMgrPipeName, server)) return false;
    server.StartBound(replyWaitMs);
    std::vector<BYTE> bytes;
    switch (CollectReply(server, bytes)) {
    case kReplyLate:
        WDX_TRACE(kTraceFailure, L"[PLM Util] PLMCmdMgr_SendCommand(%s): no reply on pipe %s within %u ms", name,
                  replyPipe.c_str(), replyWaitMs);
        return false;
    case kReplyTooLong:
        WDX_TRACE(kTraceFailure, L"[PLM Util] PLMCmdMgr_SendCommand(%s): reply on pipe %s exceeds %u bytes", name,
                  replyPipe.c_str(), CPipeServer::kMaxReplyBytes);
        return false;
    case kReplyFailed:
        WDX_TRACE(kTraceFailure, L"[PLM Util] PLMCmdMgr_SendCommand(%s): reading the reply on pipe %s failed! err=%d",
                  name, replyPipe.c_str(), server.ReadError());
        return false;
    case kReplyWhole:
        break;
    }
    if (!bytes.empty()) reply.Append(bytes.data(), static_cast<unsigned>(bytes.size()));
    return true;
}

}  // namespace

std::wstring MakeReplyPipeName(const wchar_t* name, DWORD tick, DWORD threadId) {
    std::wstring pipe = name != nullptr ? name : L"";
    return pipe + SignedDecimal(tick) + SignedDecimal(threadId);
}

std::wstring MakeReplyPipeName(const wchar_t* name) {
    return MakeReplyPipeName(name, GetTickCount(), GetCurrentThreadId());
}

namespace {

bool SendCommand(CIPCMsgBuffer& request, const wchar_t* name, CIPCMsgBuffer& reply, DWORD replyWaitMs) {
    const std::wstring replyPipe = MakeReplyPipeName(name);
    CCmdProtocol command;
    command.AddField(name).AddField(replyPipe.c_str());

    static const BYTE kTerminator[2] = {0, 0};
    request.Append(kTerminator, sizeof kTerminator);
    const int cbRequest = static_cast<int>(request.BytesUsed());
    command.AddField(SignedDecimal(static_cast<DWORD>(cbRequest)).c_str());
    WDX_TRACE(kTraceProgress, L"buffer size(%d)", cbRequest);
    const std::wstring payload = PayloadUnits(request);
    WDX_TRACE(kTraceProgress, L"wstring buffer size(%d)", static_cast<int>(payload.size()));
    command.AddField(payload.data(), static_cast<int>(payload.size()));

    if (replyWaitMs == 0) replyWaitMs = PipeWaitBoundMs();
    return SendAndCollect(command, name, replyPipe, replyWaitMs, reply);
}

}  // namespace

bool PLMCmdMgr_SendCommand(CIPCMsgBuffer& request, const wchar_t* name, CIPCMsgBuffer& reply, DWORD replyWaitMs) {
    WDX_TRACE(kTraceProgress, L"[PLM Util] ==> PLMCmdMgr_SendCommand (%s)", name);
    // Exceptions of the buffers and out of memory go to the caller (the SDK),
    // which turns them into its result with their own trace line.
    const bool bSuccess = SendCommand(request, name, reply, replyWaitMs);
    WDX_TRACE(kTraceProgress, L"[PLM Util] <== PLMCmdMgr_SendCommand(%s), %d", name, bSuccess ? 1 : 0);
    return bSuccess;
}
