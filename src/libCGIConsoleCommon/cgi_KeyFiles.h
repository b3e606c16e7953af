// The key files of console logins: one hidden ".key_<session id>" file per
// login in the server's TEMP folder, holding the login's key and the tick of
// its last use.
#pragma once
#include <windows.h>

#include <string>

#include "cgi_ConsoleCommon.h"

namespace plm {

// Deletes key files idle for a day and companion files (.lci and its .lco,
// .lcx, .lcd) older than periodMs, in one pass at most once a minute for the
// whole server (the first call after the minute makes it). A key or companion
// file's tick up to five minutes after the host's clock is fresh, one further
// ahead idle (from before the tick count restarted); a key file without a whole
// record goes when its file was last written more than a day ago.
void PurgeLoginFiles(const SCookieHost& host, DWORD periodMs);
// Compares the session's key file with the cookie's key and, only when they
// match, refreshes the file's last-access tick: 3900. 3904 when they differ or
// the file holds no well-formed record, 3907 when there is no file (or a purge
// is deleting it) or its login has been idle for a day (the file is deleted
// then, the purge's turn or not).
int CheckSessionKey(const SCookieHost& host, const wchar_t* sessionId, const std::wstring& cookieKey);
// Creates the key file of a new session id drawn at random. Never replaces
// another login's file: an id whose file exists is drawn again, a bounded
// number of times. False, with sessionId unset, when no id can be drawn or
// every id drawn is taken or could not be written: the login must not go on.
// A record that cannot be written whole takes its file away again. A file that cannot be
// made for another reason (no server folder) leaves a login that never
// verifies (3907), as before.
bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId);

}  // namespace plm
