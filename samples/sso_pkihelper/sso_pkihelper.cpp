// A sample single-sign-on helper for the console, in two builds from this one
// source. The release sample (SSO_PKIHelper) refuses every session: copied
// beside a console by mistake, it lets nobody in; the real helper comes with the
// server. The tests' helper (SSO_PKIHelperPermissive, WDX_SSO_ACCEPT_OK) takes a
// session whose data begins with "ok". Both answer with one header line naming
// the session.
#include <cstring>

namespace {

const size_t kInfoBytes = 80;
const size_t kResponseBytes = 256;
const char kResponsePrefix[] = "X-Console-SSO: ";

#ifdef WDX_SSO_ACCEPT_OK
bool IsLive(const char* sessionData) { return sessionData && strncmp(sessionData, "ok", 2) == 0; }
#else
bool IsLive(const char*) { return false; }
#endif

void CopyCut(char* out, size_t cbOut, const char* text) {
    size_t cb = strlen(text);
    if (cb > cbOut - 1) cb = cbOut - 1;
    memcpy(out, text, cb);
    out[cb] = '\0';
}

}  // namespace

extern "C" {

// 0: the session is live; 2: it is not (always, in the release sample). The
// timeout is not used.
int __cdecl En_SSO_PKI_IsSessionExpired(const char* /*setting1*/, const char* sessionData, const char* /*setting2*/,
                                        int /*timeoutMs*/) {
    return IsLive(sessionData) ? 0 : 2;
}

// Fills the 80-byte block with the start of the session data.
int __cdecl En_SSO_PKI_ParseSessionData(const char* /*setting1*/, const char* sessionData, const char* /*setting2*/,
                                        void* info) {
    if (!info) return 1;
    CopyCut(static_cast<char*>(info), kInfoBytes, sessionData ? sessionData : "");
    return 0;
}

// "X-Console-SSO: " and the session data, cut to the 256-byte buffer. The tests'
// helper answers the session "ok-settings" with the two settings it was given
// instead, so that the tests see what reached it.
int __cdecl En_SSO_PKI_CreateSessionResponse(const char* setting1, const char* sessionData, const char* setting2,
                                             char* response) {
    if (!response) return 1;
    char line[kResponseBytes] = {};
    CopyCut(line, kResponseBytes, kResponsePrefix);
    const char* shown = sessionData ? sessionData : "";
#ifdef WDX_SSO_ACCEPT_OK
    char settings[kResponseBytes] = {};
    if (strcmp(shown, "ok-settings") == 0 && setting1 && setting2 && strlen(setting1) + strlen(setting2) < 200) {
        strcpy(settings, setting1);
        strcat(settings, "|");
        strcat(settings, setting2);
        shown = settings;
    }
#else
    (void)setting1;
    (void)setting2;
#endif
    const size_t used = strlen(line);
    CopyCut(line + used, kResponseBytes - used, shown);
    memcpy(response, line, kResponseBytes);
    return 0;
}

}  // extern "C"
