// Command dispatch to the server's general command handler: a ready command
// text goes into its command pipe and the answer, UTF-16 text, comes back on the
// reply pipe that the text names in its second field.
#pragma once
#include <windows.h>

#include <string>

#include "ipc/pipe_Util.h"

extern const wchar_t kServerCmdPipeName[];  // "Norvale KPSE Command Handler Manager"

// Sends byteLength bytes of text (-1: up to its NUL) and collects the whole
// reply into reply. False when the command was not delivered, the reply could
// not be collected, or no complete reply came within replyWaitMs.
bool cmdao_PipeSendAndRecv(const wchar_t* text, int byteLength, const wchar_t* replyPipe, std::wstring& reply,
                           DWORD replyWaitMs = kPipeReplyWaitMs);
