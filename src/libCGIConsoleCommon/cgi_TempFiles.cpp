// Temporary files of a request: created once under a random name and deleted
// through their own handle, so that nothing can be slipped in between.
#include "cgi_TempFiles.h"

#include <ntsecapi.h>

#include <algorithm>
#include <cstdio>

#include "cgi_HostPaths.h"

namespace plm {
namespace {

const int kNameTries = 16;
// A marker time more than five minutes ahead means the clock was set back.
const ULONGLONG kClockAheadMs = 300000;

ULONGLONG Milliseconds(const FILETIME& time) {
    return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000u;
}

ULONGLONG SystemNowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Milliseconds(now);
}

HANDLE CreateNewFile(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
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

CSweepTurn::CSweepTurn(const std::wstring& markerPath, ULONGLONG intervalMs) {
    m_marker.reset(CreateFileW(markerPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_marker) return;
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    OVERLAPPED at = {};
    if (!LockFileEx(m_marker.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        m_marker.reset();
        return;
    }
    FILETIME lastPass = {};
    const ULONGLONG now = SystemNowMs();
    if (!created && GetFileTime(m_marker.get(), nullptr, nullptr, &lastPass)) {
        const ULONGLONG last = Milliseconds(lastPass);
        const bool due = last <= now ? now - last >= intervalMs : last - now > kClockAheadMs;
        if (!due) return;
    }
    FILETIME stamp;
    GetSystemTimeAsFileTime(&stamp);
    // A turn that cannot be recorded is not taken: otherwise every request
    // would make the full pass.
    m_taken = SetFileTime(m_marker.get(), nullptr, nullptr, &stamp) != FALSE;
}

CSweepTurn::~CSweepTurn() {
    OVERLAPPED at = {};
    if (m_marker) UnlockFileEx(m_marker.get(), 0, 1, 0, &at);
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
        OS::UniqueFile file = OpenUploadAsItself(folder + found.cFileName, info);
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
