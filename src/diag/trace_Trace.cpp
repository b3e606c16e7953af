// TEMPORARY: placeholder bodies until the trace facility lands.
#include "diag/trace_Trace.h"

void TraceInit(const wchar_t*) {}
namespace AgentChannel {
void TraceWrite(int, const wchar_t*, int, const wchar_t*, ...) {}
void TraceWriteLocal(int, const wchar_t*, int, const wchar_t*, ...) {}
}  // namespace AgentChannel
namespace FrameworkChannel {
void TraceWrite(int, const wchar_t*, int, const wchar_t*, ...) {}
void TraceWriteLocal(int, const wchar_t*, int, const wchar_t*, ...) {}
}  // namespace FrameworkChannel
