// The COM error message text (the COM support pieces themselves are declared by
// the compiler's comutil.h and comdef.h).
#pragma once
#include <windows.h>
#include <comdef.h>  // _com_error

#include <string>

namespace OS {
// Message text of a COM error: the system's message for the HRESULT without its
// trailing CR LF, otherwise "IDispatch error #%d" (0x80040201..0x8004FFFF, the
// HRESULT minus 0x80040200) or "Unknown error 0x%0lX".
std::wstring ComErrorMessage(const _com_error& error);
// The fallback text alone, for an HRESULT that has no system message.
std::wstring ComErrorFallbackMessage(HRESULT hr);
}  // namespace OS
