// Files the console keeps in the server's TEMP folder, which other local
// accounts can reach: they are created readable by the console's account,
// SYSTEM and Administrators only, and opened as themselves, never through a
// link someone planted under their name.
#pragma once
#include <windows.h>

#include <string>

#include "foundation/win_Handle.h"

namespace plm {

// The attributes to create such a file with: a protected DACL (nothing
// inherited from the folder) granting full access to the process's user,
// SYSTEM and Administrators. Built once per process; null when the process's
// user cannot be read, and then no such file may be created.
SECURITY_ATTRIBUTES* PrivateFileAttributes();

// Opens an existing file as itself (a reparse point is opened, not followed)
// and keeps the handle only when it is a plain file with one name: no
// directory, no reparse point, no further hard link. Empty otherwise, with
// ERROR_ACCESS_DENIED for a refused file. Shared for reading, writing and
// deleting; info, when given, receives what the check read.
OS::UniqueFile OpenPlainFile(const std::wstring& path, DWORD access, BY_HANDLE_FILE_INFORMATION* info = nullptr);
// The same check on a handle already open (one opened by OPEN_ALWAYS, say).
bool IsPlainFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info = nullptr);
// File times and the system clock in milliseconds since 1601, the scale the
// ages of the files here are judged on.
ULONGLONG FileTimeMs(const FILETIME& time);
ULONGLONG SystemNowMs();
// Marks a file for deletion through its handle (which needs DELETE access):
// the name is never looked up again, so it cannot have changed hands.
bool DeleteThroughHandle(HANDLE file);

}  // namespace plm
