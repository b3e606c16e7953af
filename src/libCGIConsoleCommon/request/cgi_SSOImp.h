// Single sign-on hand-over from the management console, checked by the SSO
// helper DLL that sits beside the running program.
#pragma once
#include <cstddef>

namespace plm {

const size_t kSsoResponseBytes = 256;

// 1 when the helper or one of its entry points is unavailable (response then
// untouched); otherwise the helper's session check result. response (256 bytes)
// receives the helper's response text, cut at its first CR or LF.
int ValidateSSO(const wchar_t* sessionData, const char* ssoSetting2, const char* ssoSetting1, char* response);
// The same with the helper taken from folder (ending in a backslash).
int ValidateSSOFrom(const wchar_t* folder, const wchar_t* sessionData, const char* ssoSetting2, const char* ssoSetting1,
                    char* response);

}  // namespace plm
