// The key files of console logins: one hidden ".key_<session id>" file per
// login in the server's TEMP folder, holding the login's key and the tick of
// its last use.
#pragma once
#include <windows.h>

#include <string>

#include "cgi_ConsoleCommon.h"

namespace plm {

// Deletes key files idle for a day and companion files (.lci and its .lco,
// .lcx, .lcd) older than periodMs. A pass begins at most once a minute for the
// whole server and is made in slices, one per request while it is under way
// (at most 128 session ids and host.purgeSliceMs each, then the companion
// files). Only plain files with one name are judged, each through the handle
// it is deleted by; the clock is read for each file after its record. A key
// file is idle when its tick is more than a day before the clock (unsigned
// difference) or its file was last written more than a day ago; a companion
// file when its tick is not later than the clock and more than periodMs
// before it.
void PurgeLoginFiles(const SCookieHost& host, DWORD periodMs);
// Compares the session's key file with the cookie's key and, only when they
// match and the login has been used within periodMs by the file's own tick,
// refreshes that tick: 3900. 3904 when they differ or the file holds no
// well-formed record, 3905 when the record's tick is more than periodMs old
// (whatever the client's stamp), 3907 when there is no file, it is not a plain
// file with one name (a link planted in TEMP), a purge is deleting it, or its
// login has been idle for a day (the file is deleted then, the purge's turn or
// not). The file is opened for reading and writing; delete access is asked
// for only to discard an idle record.
int CheckSessionKey(const SCookieHost& host, const wchar_t* sessionId, const std::wstring& cookieKey, DWORD periodMs);
// Creates the key file of a new session id drawn at random, readable by the
// console's account, SYSTEM and Administrators only. Never replaces
// another login's file: an id whose file exists is drawn again, a bounded
// number of times. False, with sessionId unset, when no id can be drawn or
// every id drawn is taken or could not be written: the login must not go on.
// A record that cannot be written whole takes its file away again. A file that cannot be
// made for another reason (no server folder) leaves a login that never
// verifies (3907), as before.
bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId);

}  // namespace plm
