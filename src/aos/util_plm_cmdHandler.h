// Command dispatch to the add-on manager: an IPC request travels as the last
// field of a TAB-separated command text into the manager's command pipe, and the
// reply comes back on a private reply pipe named after the command.
#pragma once
#include <windows.h>

#include <string>

#include "ipc/pipe_Util.h"

class CIPCMsgBuffer;

extern const wchar_t kAoSMgrPipeName[];  // "Norvale KpsAoSMgr Command Handler Manager"

// The command name followed by the decimal tick count and thread id (signed
// base-10, no separator). Also the request's id.
std::wstring MakeReplyPipeName(const wchar_t* name);
// Same, with the tick count and thread id given (tests use it for the negative tick).
std::wstring MakeReplyPipeName(const wchar_t* name, DWORD tick, DWORD threadId);

// Appends two zero bytes to request and sends it as the command `name`. On
// success (true) the whole reply is appended to reply; a service that connects
// and closes without writing gives true and no bytes. False when the command
// was not delivered or no complete reply came within replyWaitMs (then nothing
// is appended to reply); 0 means the process's bound, PipeWaitBoundMs(). Each
// call creates no kernel object but its reply pipe. Exceptions of the request
// buffer (OS::CException) and out of memory (std::bad_alloc) reach the caller.
bool PLMCmdMgr_SendCommand(CIPCMsgBuffer& request, const wchar_t* name, CIPCMsgBuffer& reply, DWORD replyWaitMs = 0);
