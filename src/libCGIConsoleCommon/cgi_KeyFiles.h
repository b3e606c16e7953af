// The key files of console logins: one hidden ".key_<session id>" file per
// login in the server's TEMP folder, holding the login's key and the tick of
// its last use.
#pragma once
#include <windows.h>

#include <string>

#include "cgi_ConsoleCommon.h"

namespace plm {

// Deletes key files idle for a day and companion files (.lci and its .lco,
// .lcx, .lcd) older than periodMs.
void PurgeLoginFiles(const SCookieHost& host, DWORD periodMs);
// The session's key with its last-access tick refreshed. 3907 when the file
// cannot be opened, 3904 when it holds no well-formed record.
int RetrieveSessionKey(const SCookieHost& host, const wchar_t* sessionId, std::wstring& key);
// Creates the key file of a new session id drawn at random. Never replaces
// another login's file: an id whose file exists is drawn again, a bounded
// number of times. False, with sessionId unset, when no id can be drawn or
// every id drawn is taken: the login must not go on. A file that cannot be
// made for another reason (no server folder) leaves a login that never
// verifies (3907), as before.
bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId);

}  // namespace plm
