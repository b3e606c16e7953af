// Trace facility: two independent channels that turn printf-style wide trace
// calls into lines "[tag][process]message" and hand them to the log client.
#pragma once

// Gives the agent channel its module tag and computes its process label.
// Called once from DllMain on process attach.
void TraceInit(const wchar_t* moduleTag);

// Channel used by the patch agent units and the code-page helpers.
namespace AgentChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
// Local sink for the log client's own failures; none is configured, so it does nothing.
void TraceWriteLocal(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
}  // namespace AgentChannel

// Channel used by the framework units (SDK, dispatch, pipes, registry, console).
namespace FrameworkChannel {
void TraceWrite(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
void TraceWriteLocal(int level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
}  // namespace FrameworkChannel
