#include "cgi_KeyFiles.h"

#include <cstdlib>
#include <cstring>

#include "cgi_TempFiles.h"
#include "console/plm_Console.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;
const size_t kKeyRecordBytes = 36;
const size_t kKeyTextBytes = 32;
const DWORD kKeyFileIdleMs = 1440u * 60000u;
// A tick up to this far after the purge's clock is a login made or used since
// the clock was read; further ahead it is from before the tick count restarted
// (a reboot), and the login is idle.
const DWORD kTickAheadMarginMs = 5u * 60000u;
const int kKeyFileTries = 16;

std::wstring TempFolder(const SCookieHost& host) {
    if (host.serverFolder.empty()) return std::wstring();
    std::wstring folder = host.serverFolder;
    if (folder.back() != L'\\') folder += L'\\';
    return folder + L"TEMP";
}

struct SKeyRecord {
    unsigned char bytes[kKeyRecordBytes];
    DWORD Tick() const {
        return bytes[32] | (bytes[33] << 8) | (bytes[34] << 16) | (static_cast<DWORD>(bytes[35]) << 24);
    }
    void SetTick(DWORD tick) {
        for (int i = 0; i < 4; ++i) bytes[32 + i] = static_cast<unsigned char>(tick >> (8 * i));
    }
    // False when the key has no terminator within its 32 bytes.
    bool Key(std::wstring& key) const {
        const void* end = memchr(bytes, 0, kKeyTextBytes);
        if (!end) return false;
        key = MBWC::AnsiToWide(reinterpret_cast<const char*>(bytes));
        return true;
    }
};

// Equal texts take the same time to compare whatever position differs.
bool KeysEqual(const std::wstring& a, const std::wstring& b) {
    const size_t cch = a.size() > b.size() ? a.size() : b.size();
    unsigned diff = static_cast<unsigned>(a.size() ^ b.size());
    for (size_t i = 0; i < cch; ++i) {
        const unsigned ca = i < a.size() ? static_cast<unsigned>(a[i]) : 0u;
        const unsigned cb = i < b.size() ? static_cast<unsigned>(b[i]) : 0u;
        diff |= ca ^ cb;
    }
    return diff == 0;
}

bool ReadExactly(HANDLE file, void* buffer, DWORD cb) {
    DWORD cbRead = 0;
    return ReadFile(file, buffer, cb, &cbRead, nullptr) && cbRead == cb;
}

OS::UniqueFile OpenExisting(const std::wstring& path, DWORD access) {
    return OS::UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Calls visit(path) for every file matching pattern in folder.
template <typename Visit>
void ForEachFile(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
    if (!find) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(find.get(), &found));
}

// A session id is 1 to 5 decimal digits; nothing else ever names a key file.
bool IsSessionId(const wchar_t* text) {
    if (!text) return false;
    size_t cch = 0;
    for (; text[cch]; ++cch)
        if (cch >= 5 || text[cch] < L'0' || text[cch] > L'9') return false;
    return cch > 0;
}

// The key file of a session id, or empty when there is none (no server folder
// or not a session id).
std::wstring KeyFilePath(const SCookieHost& host, const wchar_t* sessionId) {
    const std::wstring folder = TempFolder(host);
    if (folder.empty() || !IsSessionId(sessionId)) return std::wstring();
    return folder + L"\\.key_" + sessionId;
}

// A key record is read and rewritten only under an exclusive lock on it, so a
// purge never reads half of a check's write nor deletes a record that a check
// is refreshing. Checks wait for the lock (bounded); purges never wait.
class CRecordLock {
public:
    // The wait is bounded by the time that passed, not by the sleeps taken:
    // a sleep may last much longer than asked on a busy machine.
    CRecordLock(HANDLE file, bool wait) : m_file(file) {
        const DWORD start = GetTickCount();
        for (;;) {
            OVERLAPPED at = {};
            if (LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kKeyRecordBytes, 0, &at)) {
                m_held = true;
                return;
            }
            if (!wait || GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount() - start >= kLockWaitMs) return;
            Sleep(kLockPollMs);
        }
    }
    ~CRecordLock() {
        OVERLAPPED at = {};
        if (m_held) UnlockFileEx(m_file, 0, kKeyRecordBytes, 0, &at);
    }
    CRecordLock(const CRecordLock&) = delete;
    CRecordLock& operator=(const CRecordLock&) = delete;
    bool Held() const { return m_held; }

private:
    static constexpr DWORD kLockPollMs = 5;
    static constexpr DWORD kLockWaitMs = 2000;
    HANDLE m_file;
    bool m_held = false;
};

// Unsigned differences, so the tick count's wrap reads like any other time.
bool IsIdle(DWORD now, DWORD lastAccess, DWORD idleMs = kKeyFileIdleMs) {
    if (lastAccess - now <= kTickAheadMarginMs) return false;
    return now - lastAccess > idleMs;
}

// A key file's last write by the system clock is more than a day ago.
bool WrittenBeforeADay(HANDLE file) {
    FILETIME written, now;
    if (!GetFileTime(file, nullptr, nullptr, &written)) return false;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG writtenMs =
        ((static_cast<ULONGLONG>(written.dwHighDateTime) << 32) | written.dwLowDateTime) / 10000u;
    const ULONGLONG nowMs = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000u;
    return writtenMs < nowMs && nowMs - writtenMs > kKeyFileIdleMs;
}

// Deletes an idle key file, through a handle with DELETE access that holds its
// record's lock. Emptied first: a check already waiting for the lock then finds
// no record instead of refreshing a file that is going away.
void DiscardRecord(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

void PurgeKeyFiles(const std::wstring& folder, DWORD now) {
    ForEachFile(folder, L".key_*", [now](const std::wstring& path) {
        // The file is judged and deleted through one handle: a name that has
        // meanwhile passed to a new login is never deleted.
        OS::UniqueFile file = OpenExisting(path, GENERIC_READ | GENERIC_WRITE | DELETE);
        if (!file) return;
        SKeyRecord record;
        // Most key files are live: a first read without the lock tells them
        // apart at two calls fewer each. A torn read only errs towards keeping
        // (a record that reads idle is read again under the lock).
        if (ReadExactly(file.get(), record.bytes, kKeyRecordBytes) && !IsIdle(now, record.Tick())) return;
        CRecordLock lock(file.get(), false);
        if (!lock.Held()) return;  // in use this moment: not idle
        if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0) return;
        if (ReadExactly(file.get(), record.bytes, kKeyRecordBytes)) {
            if (!IsIdle(now, record.Tick())) return;
        } else if (!WrittenBeforeADay(file.get())) {
            // A short or empty record without a tick (a creator that failed to
            // write it, a purge that emptied it but could not delete it) is
            // judged by its file's time, so it never holds its id for good; a
            // young one may still be being written.
            return;
        }
        DiscardRecord(file.get());
    });
}

void PurgeCompanionFiles(const std::wstring& folder, DWORD now, DWORD periodMs) {
    ForEachFile(folder, L"*.lci", [now, periodMs](const std::wstring& path) {
        char text[15] = {};
        {
            OS::UniqueFile file = OpenExisting(path, GENERIC_READ);
            if (!file) return;
            DWORD cbRead = 0;
            if (!ReadFile(file.get(), text, 14, &cbRead, nullptr)) return;
        }
        const DWORD stored = strtoul(text, nullptr, 10);
        // Judged like a key file's tick: one far ahead is from before a reboot.
        if (!IsIdle(now, stored, periodMs)) return;
        DeleteFileW(path.c_str());
        const std::wstring stem = path.substr(0, path.size() - 3);
        for (const wchar_t* ext : {L"lco", L"lcx", L"lcd"}) DeleteFileW((stem + ext).c_str());
    });
}

void EnsureFolder(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

void PurgeLoginFiles(const SCookieHost& host, DWORD periodMs) {
    const std::wstring folder = TempFolder(host);
    if (folder.empty()) return;
    // The full pass costs every live login a few file calls: it is made at
    // most once a minute for the whole server, so a page's cost does not grow
    // with the number of logins, and an idle login is still gone within about
    // a minute of its day.
    CSweepTurn turn(folder + L"\\.logins_purged", kSweepIntervalMs);
    if (!turn.Taken()) return;
    PurgeKeyFiles(folder, host.tick());
    PurgeCompanionFiles(folder, host.tick(), periodMs);
}

int CheckSessionKey(const SCookieHost& host, const wchar_t* sessionId, const std::wstring& cookieKey) {
    const std::wstring path = KeyFilePath(host, sessionId);
    OS::UniqueFile file;
    if (!path.empty()) file = OpenExisting(path, GENERIC_READ | GENERIC_WRITE | DELETE);
    SKeyRecord record;
    DWORD cbRead = 0;
    if (file) {
        CRecordLock lock(file.get(), true);
        if (lock.Held() && ReadFile(file.get(), record.bytes, kKeyRecordBytes, &cbRead, nullptr) && cbRead > 0) {
            // Idle past its day: gone, as the purge pass would have left it,
            // whether or not that pass has run (its turn may not come).
            if (cbRead == kKeyRecordBytes && IsIdle(host.tick(), record.Tick())) {
                DiscardRecord(file.get());
                WDX_TRACE(kTraceFailure, L"retrieve session key failed.");
                return CGI_LOGIN_NO_KEY_FILE;
            }
            std::wstring fileKey;
            if (cbRead != kKeyRecordBytes || !record.Key(fileKey) || !KeysEqual(fileKey, cookieKey))
                return CGI_LOGIN_KEY_MISMATCH;
            // Only a client that knows the key keeps its login alive.
            record.SetTick(host.tick());
            DWORD cbWritten = 0;
            if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0)
                WriteFile(file.get(), record.bytes, kKeyRecordBytes, &cbWritten, nullptr);
            return CGI_OK;
        }
    }
    // No file, or one a purge emptied.
    WDX_TRACE(kTraceFailure, L"retrieve session key failed.");
    return CGI_LOGIN_NO_KEY_FILE;
}

bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId) {
    const std::wstring folder = TempFolder(host);
    if (!folder.empty()) EnsureFolder(folder);
    for (int attempt = 0; attempt < kKeyFileTries; ++attempt) {
        int drawn = 0;
        if (!host.random15(drawn)) {
            WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: no random session id");
            return false;
        }
        if (folder.empty()) {
            sessionId = drawn;
            return true;
        }
        const std::wstring path = KeyFilePath(host, std::to_wstring(drawn).c_str());
        OS::UniqueFile file(
            CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        // Taken, or still going away after a purge: draw again.
        if (!file && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ACCESS_DENIED)) continue;
        if (!file) {
            sessionId = drawn;
            return true;
        }
        SKeyRecord record = {};
        const std::string ansiKey = MBWC::ToAnsi(key, kKeyTextBytes - 1);
        memcpy(record.bytes, ansiKey.data(), ansiKey.size());
        record.SetTick(host.tick());
        DWORD cbWritten = 0;
        if (WriteFile(file.get(), record.bytes, kKeyRecordBytes, &cbWritten, nullptr) && cbWritten == kKeyRecordBytes) {
            sessionId = drawn;
            return true;
        }
        // A record cut short would never verify: its file goes (through the
        // handle that made it, still unshared) and another id is drawn.
        const DWORD error = GetLastError();
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
        WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] key file not written (%u bytes, error %u); drawing again",
                  cbWritten, error);
    }
    WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: %d session ids drawn, all taken",
              kKeyFileTries);
    return false;
}

}  // namespace plm
