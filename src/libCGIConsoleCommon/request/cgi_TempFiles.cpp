// Temporary files of a request: created once under a random name and deleted
// through their own handle, so that nothing can be slipped in between.
#include "cgi_TempFiles.h"

#include <ntsecapi.h>

#include <algorithm>
#include <cstdio>

#include "cgi_ConsoleCommon.h"
#include "cgi_HostPaths.h"
#include "cgi_PrivateFiles.h"
#include "foundation/trace_Trace.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;

const int kNameTries = 16;
// A marker time more than five minutes ahead means the clock was set back.
const ULONGLONG kClockAheadMs = 300000;
// How late a blocked turn may come.
const ULONGLONG kOverdueMs = 300000;
// The marker's state word; its lock covers more, so a lock held on any part
// of the word by another process is a lock held.
const DWORD kStateBytes = 4;
const DWORD kMarkerLockBytes = 16;

// Readable by the console's account only: an upload is a client's data.
HANDLE CreateNewFile(const wchar_t* path) {
    SECURITY_ATTRIBUTES* security = PrivateFileAttributes();
    if (!security) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, GENERIC_WRITE | DELETE, 0, security, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

void UnlockMarker(HANDLE marker) {
    OVERLAPPED at = {};
    UnlockFileEx(marker, 0, kMarkerLockBytes, 0, &at);
}

}  // namespace

CRequestTempFiles::~CRequestTempFiles() {
    for (SFile& file : m_files) Delete(file);
}

bool CRequestTempFiles::Create(const std::wstring& folder, const wchar_t* prefix) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        ULONG bits = 0;
        if (!RtlGenRandom(&bits, sizeof bits)) {
            SetLastError(ERROR_GEN_FAILURE);
            return false;
        }
        wchar_t name[32];
        _snwprintf_s(name, 32, _TRUNCATE, L"%s%08lX.tmp", prefix, bits);
        name[31] = L'\0';
        std::wstring path = folder + name;
        if (path.size() >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        OS::UniqueFile handle((m_create ? m_create : CreateNewFile)(path.c_str()));
        if (handle) {
            m_files.push_back(SFile{std::move(handle), std::move(path)});
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

void CRequestTempFiles::DiscardLast() {
    if (m_files.empty()) return;
    Delete(m_files.back());
    m_files.pop_back();
}

// While the unshared handle is open the name cannot change hands, so the file
// is marked for deletion through it; a handle without delete access falls back
// to the name.
void CRequestTempFiles::Delete(SFile& file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (file.handle &&
        SetFileInformationByHandle(file.handle.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        file.handle.reset();
        return;
    }
    file.handle.reset();
    DeleteFileW(file.path.c_str());
}

CSweepTurn::EResult CSweepTurn::Try(const std::wstring& path, ULONGLONG intervalMs, bool dueWhenNew) {
    SECURITY_ATTRIBUTES* security = PrivateFileAttributes();
    if (!security) {
        m_why = L"has no security descriptor";
        m_error = ERROR_INVALID_SECURITY_DESCR;
        return kBlocked;
    }
    OS::UniqueFile marker(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    m_error = GetLastError();
    if (!marker) {
        m_why = L"cannot be opened";
        return kBlocked;
    }
    const bool created = m_error != ERROR_ALREADY_EXISTS;
    m_error = 0;
    if (!IsPlainFile(marker.get())) {
        m_why = L"is not a plain file";
        return kBlocked;
    }
    FILETIME lastTurn = {};
    const bool known = !created && GetFileTime(marker.get(), nullptr, nullptr, &lastTurn);
    const ULONGLONG last = FileTimeMs(lastTurn);
    const ULONGLONG now = SystemNowMs();
    OVERLAPPED at = {};
    if (!LockFileEx(marker.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kMarkerLockBytes, 0, &at)) {
        m_error = GetLastError();
        // A turn stamps its marker as it starts: a lock on a marker that
        // recent is another request's turn.
        const bool recent = known && (last > now ? last - now <= kClockAheadMs : now - last < intervalMs + kOverdueMs);
        if (m_error == ERROR_LOCK_VIOLATION && recent) return kBusy;
        m_why = L"is locked";
        return kBlocked;
    }
    unsigned char bytes[kStateBytes] = {};
    DWORD cbRead = 0;
    DWORD state = 0;
    if (ReadFile(marker.get(), bytes, kStateBytes, &cbRead, nullptr) && cbRead == kStateBytes)
        state = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
    bool due = dueWhenNew;
    if (!created) due = !known || state != 0 || (last <= now ? now - last >= intervalMs : last - now > kClockAheadMs);
    if (!due) {
        UnlockMarker(marker.get());
        return kNotDue;
    }
    FILETIME stamp;
    GetSystemTimeAsFileTime(&stamp);
    // A turn that cannot be recorded is not taken: otherwise every request
    // would make the pass.
    if (!SetFileTime(marker.get(), nullptr, nullptr, &stamp)) {
        m_error = GetLastError();
        UnlockMarker(marker.get());
        m_why = L"cannot be stamped";
        return kBlocked;
    }
    m_marker = std::move(marker);
    m_state = state;
    return kTaken;
}

CSweepTurn::CSweepTurn(const std::wstring& markerPath, ULONGLONG intervalMs) {
    const EResult result = Try(markerPath, intervalMs, true);
    if (result != kBlocked) {
        m_taken = result == kTaken;
        return;
    }
    WDX_TRACE(kTraceFailure, L"[CSweepTurn] turn not taken: %s %s (err=%u)", markerPath.c_str(), m_why, m_error);
    const std::wstring overdue = markerPath + L".overdue";
    const EResult late = Try(overdue, kOverdueMs, false);
    m_taken = late == kTaken;
    if (m_taken)
        WDX_TRACE(kTraceFailure, L"[CSweepTurn] overdue turn taken at %s", overdue.c_str());
    else if (late == kBlocked)
        WDX_TRACE(kTraceFailure, L"[CSweepTurn] turn not taken: %s %s (err=%u)", overdue.c_str(), m_why, m_error);
}

CSweepTurn::~CSweepTurn() {
    if (m_taken && m_marker) UnlockMarker(m_marker.get());
}

void CSweepTurn::SetState(DWORD state) {
    if (!m_taken) return;
    unsigned char bytes[kStateBytes];
    for (DWORD i = 0; i < kStateBytes; ++i) bytes[i] = static_cast<unsigned char>(state >> (8 * i));
    DWORD cbWritten = 0;
    if (SetFilePointer(m_marker.get(), 0, nullptr, FILE_BEGIN) == 0 &&
        WriteFile(m_marker.get(), bytes, kStateBytes, &cbWritten, nullptr) && cbWritten == kStateBytes)
        m_state = state;
}

bool IsUploadFileName(const wchar_t* name) {
    if (!name || (wcsncmp(name, L"KPS", 3) != 0 && wcsncmp(name, L"Cfw", 3) != 0)) return false;
    for (int i = 3; i < 11; ++i)
        if (!((name[i] >= L'0' && name[i] <= L'9') || (name[i] >= L'A' && name[i] <= L'F'))) return false;
    return wcscmp(name + 11, L".tmp") == 0;
}

int SweepOldUploads(const std::wstring& tempFolder, ULONGLONG maxAgeMs) {
    std::wstring folder = tempFolder;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((folder + L"*.tmp").c_str(), &found));
    if (!find) return 0;
    int deleted = 0;
    do {
        if (!IsUploadFileName(found.cFileName)) continue;
        // The folder's entry says which may be old; only those are opened,
        // and their handle has the last word.
        const ULONGLONG listed = SystemNowMs();
        if (!IsUploadOlderThan(UploadTimeMs(found.ftCreationTime, found.ftLastWriteTime, listed), listed, maxAgeMs))
            continue;
        BY_HANDLE_FILE_INFORMATION info;
        OS::UniqueFile file = OpenPlainFile(folder + found.cFileName, DELETE | FILE_READ_ATTRIBUTES, &info);
        if (!file) continue;
        // The clock read after the file's times: a file written meanwhile is
        // never older than it is.
        const ULONGLONG now = SystemNowMs();
        if (!IsUploadOlderThan(UploadTimeMs(info.ftCreationTime, info.ftLastWriteTime, now), now, maxAgeMs)) continue;
        if (DeleteThroughHandle(file.get())) ++deleted;
    } while (FindNextFileW(find.get(), &found));
    return deleted;
}

int UploadLifeSeconds(int setting) {
    if (setting <= 0) return kDefaultUploadLifeSeconds;
    return setting < kMinUploadLifeSeconds ? kMinUploadLifeSeconds : std::min(setting, kMaxUploadLifeSeconds);
}

void SweepUploadsInTurn(const std::wstring& serverFolder) {
    if (serverFolder.empty()) return;
    std::wstring temp = serverFolder;
    if (temp.back() != L'\\') temp += L'\\';
    temp += L"TEMP\\";
    if (GetFileAttributesW(temp.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    CSweepTurn turn(temp + L".uploads_swept", kSweepIntervalMs);
    if (!turn.Taken()) return;
    int seconds = ReadServerIniInt(L"INI_SERVER_SECTION", L"MaxUploadAgeInSec", kDefaultUploadLifeSeconds);
    seconds = UploadLifeSeconds(seconds);
    SweepOldUploads(temp, static_cast<ULONGLONG>(seconds) * 1000u);
}

}  // namespace plm
