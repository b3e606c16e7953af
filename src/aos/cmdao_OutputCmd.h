// Command dispatch to the server's general command handler: a ready command
// text goes into its command pipe and the answer, UTF-16 text, comes back on the
// reply pipe that the text names in its second field.
#pragma once
#include <windows.h>

#include <string>

#include "ipc/pipe_Util.h"

extern const wchar_t kServerCmdPipeName[];  // "Norvale KPSE Command Handler Manager"

// One command of cmdao_PipeSendAllAndRecv: text of byteLength bytes (-1: up to
// its NUL) whose reply comes on replyPipe.
struct SCmdaoExchange {
    const wchar_t* text = nullptr;
    int byteLength = -1;
    const wchar_t* replyPipe = nullptr;
    std::wstring reply;     // the whole reply, empty when there is none
    bool answered = false;  // delivered and a complete reply collected
};

// Sends byteLength bytes of text (-1: up to its NUL) and collects the whole
// reply into reply. False when the command was not delivered, the reply could
// not be collected (or passed CPipeServer::kMaxReplyBytes), or no complete reply
// came within replyWaitMs (0: the process's bound, PipeWaitBoundMs()). Once a
// command of this process has let the bound pass, later ones fail at once
// (PipeServiceStalled). Never throws.
bool cmdao_PipeSendAndRecv(const wchar_t* text, int byteLength, const wchar_t* replyPipe, std::wstring& reply,
                           DWORD replyWaitMs = 0);
// The same for several commands that do not depend on each other: all are sent
// before any reply is awaited, so they cost about the slowest reply instead of
// the sum, and one bound covers them all. Each still has its own reply pipe.
void cmdao_PipeSendAllAndRecv(SCmdaoExchange* const* exchanges, size_t count, DWORD replyWaitMs = 0);
