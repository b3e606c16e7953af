#include "cgi_KeyFiles.h"

#include <cstdlib>
#include <cstring>

#include "cgi_PrivateFiles.h"
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
const int kKeyFileTries = 16;
// Session ids are drawn in 0..32767. The purge visits their key files by name,
// a slice of ids per request bounded in count and time, so that no request
// waits for the whole pass; the companion files follow as one step of their own.
const DWORD kSessionIds = 32768;
const DWORD kIdsPerSlice = 128;
// The purge marker's state word: 0 no pass under way; 1 + the next id to visit;
// this value for the companion files' step.
const DWORD kCompanionStep = kSessionIds + 1;

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

// A file last written more than a day ago by the system clock: its login is
// idle whatever its tick says (the tick count may have wrapped or restarted).
bool WrittenBeforeADay(const FILETIME& written) {
    const ULONGLONG writtenMs = FileTimeMs(written), nowMs = SystemNowMs();
    return writtenMs < nowMs && nowMs - writtenMs > kKeyFileIdleMs;
}

bool WrittenBeforeADay(HANDLE file) {
    FILETIME written;
    return GetFileTime(file, nullptr, nullptr, &written) && WrittenBeforeADay(written);
}

// Idle for a day: by its tick (unsigned difference, so the tick count's wrap
// reads like any other time; the clock is read after the record) or by its
// file's time.
bool IsIdleRecord(HANDLE file, DWORD lastAccess, DWORD now) {
    return now - lastAccess > kKeyFileIdleMs || WrittenBeforeADay(file);
}

// Deletes an idle key file: emptied through writer, which holds its record's
// lock, and marked for deletion through deleter (DELETE access, the same
// file). Emptied first: a check already waiting for the lock then finds no
// record instead of refreshing a file that is going away.
void DiscardRecord(HANDLE writer, HANDLE deleter) {
    if (SetFilePointer(writer, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(writer)) DeleteThroughHandle(deleter);
}

void PurgeKeyFile(const std::wstring& path, const SCookieHost& host) {
    // Judged and deleted through one handle: a name that has meanwhile passed
    // to a new login is never deleted, and a link is never followed.
    BY_HANDLE_FILE_INFORMATION info;
    OS::UniqueFile file = OpenPlainFile(path, GENERIC_READ | GENERIC_WRITE | DELETE, &info);
    if (!file) return;
    SKeyRecord record;
    // Most key files are live: a first read without the lock tells them
    // apart at two calls fewer each. A torn read only errs towards keeping
    // (a record that reads idle is read again under the lock).
    if (ReadExactly(file.get(), record.bytes, kKeyRecordBytes) && host.tick() - record.Tick() <= kKeyFileIdleMs &&
        !WrittenBeforeADay(info.ftLastWriteTime))
        return;
    CRecordLock lock(file.get(), false);
    if (!lock.Held()) return;  // in use this moment: not idle
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0) return;
    if (ReadExactly(file.get(), record.bytes, kKeyRecordBytes)) {
        if (!IsIdleRecord(file.get(), record.Tick(), host.tick())) return;
    } else if (!WrittenBeforeADay(file.get())) {
        // A short or empty record without a tick (a creator that failed to
        // write it, a purge that emptied it but could not delete it) is
        // judged by its file's time, so it never holds its id for good; a
        // young one may still be being written.
        return;
    }
    DiscardRecord(file.get(), file.get());
}

// "name.lci" exactly, as a long name: a pattern also matches short names.
bool IsCompanionName(const wchar_t* name) {
    const size_t cch = wcslen(name);
    return cch > 4 && _wcsicmp(name + cch - 4, L".lci") == 0;
}

// The sibling of an expired .lci file, when it exists under exactly that
// (long) name as a plain file: deleted through the handle that was judged.
void DeleteSibling(const std::wstring& folder, const std::wstring& name) {
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((folder + L"\\" + name).c_str(), &found));
    if (!find || _wcsicmp(found.cFileName, name.c_str()) != 0) return;
    OS::UniqueFile file = OpenPlainFile(folder + L"\\" + found.cFileName, DELETE | FILE_READ_ATTRIBUTES);
    if (file) DeleteThroughHandle(file.get());
}

void PurgeCompanionFiles(const std::wstring& folder, const SCookieHost& host, DWORD periodMs) {
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((folder + L"\\*.lci").c_str(), &found));
    if (!find) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsCompanionName(found.cFileName)) continue;
        const std::wstring name = found.cFileName;
        OS::UniqueFile file = OpenPlainFile(folder + L"\\" + name, GENERIC_READ | DELETE);
        if (!file) continue;
        char text[15] = {};
        DWORD cbRead = 0;
        if (!ReadFile(file.get(), text, 14, &cbRead, nullptr)) continue;
        const DWORD stored = strtoul(text, nullptr, 10);
        const DWORD now = host.tick();
        if (stored > now || now - stored <= periodMs) continue;
        if (!DeleteThroughHandle(file.get())) continue;
        file.reset();
        const std::wstring stem = name.substr(0, name.size() - 3);
        for (const wchar_t* ext : {L"lco", L"lcx", L"lcd"}) DeleteSibling(folder, stem + ext);
    } while (FindNextFileW(find.get(), &found));
}

void EnsureFolder(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

void PurgeLoginFiles(const SCookieHost& host, DWORD periodMs) {
    const std::wstring folder = TempFolder(host);
    if (folder.empty()) return;
    // A pass begins at most once a minute for the whole server and goes on in
    // slices, one per request while it is under way: a page's cost stays
    // bounded whatever the number of logins, and an idle login still goes
    // within minutes of its day.
    CSweepTurn turn(folder + L"\\.logins_purged", kSweepIntervalMs);
    if (!turn.Taken()) return;
    const DWORD state = turn.State();
    if (state == kCompanionStep) {
        PurgeCompanionFiles(folder, host, periodMs);
        turn.SetState(0);
        return;
    }
    // A slice ends after its ids or its time, whichever comes first: on a
    // loaded machine every file costs more, and the pass takes more requests.
    DWORD id = state == 0 || state > kSessionIds ? 0 : state - 1;
    const DWORD end = id + kIdsPerSlice < kSessionIds ? id + kIdsPerSlice : kSessionIds;
    const DWORD started = GetTickCount();
    while (id < end) {
        PurgeKeyFile(folder + L"\\.key_" + std::to_wstring(id++), host);
        if (GetTickCount() - started >= host.purgeSliceMs) break;
    }
    turn.SetState(id == kSessionIds ? kCompanionStep : id + 1);
}

int CheckSessionKey(const SCookieHost& host, const wchar_t* sessionId, const std::wstring& cookieKey, DWORD periodMs) {
    const std::wstring path = KeyFilePath(host, sessionId);
    OS::UniqueFile file;
    BY_HANDLE_FILE_INFORMATION info;
    // Reading and writing only: delete access is asked for a record judged idle.
    if (!path.empty()) file = OpenPlainFile(path, GENERIC_READ | GENERIC_WRITE, &info);
    SKeyRecord record;
    DWORD cbRead = 0;
    if (file) {
        CRecordLock lock(file.get(), true);
        if (lock.Held() && ReadFile(file.get(), record.bytes, kKeyRecordBytes, &cbRead, nullptr) && cbRead > 0) {
            const DWORD now = host.tick();
            // Idle past its day: gone, as the purge pass would have left it,
            // whether or not that pass has come to it yet.
            if (cbRead == kKeyRecordBytes && IsIdleRecord(file.get(), record.Tick(), now)) {
                BY_HANDLE_FILE_INFORMATION again;
                OS::UniqueFile deleter = OpenPlainFile(path, DELETE | FILE_READ_ATTRIBUTES, &again);
                if (deleter && again.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
                    again.nFileIndexHigh == info.nFileIndexHigh && again.nFileIndexLow == info.nFileIndexLow)
                    DiscardRecord(file.get(), deleter.get());
                WDX_TRACE(kTraceFailure, L"retrieve session key failed.");
                return CGI_LOGIN_NO_KEY_FILE;
            }
            std::wstring fileKey;
            if (cbRead != kKeyRecordBytes || !record.Key(fileKey) || !KeysEqual(fileKey, cookieKey))
                return CGI_LOGIN_KEY_MISMATCH;
            // Idle on the server past the period: expired whatever stamp the
            // client sends, and left so.
            if (now - record.Tick() > periodMs) {
                WDX_TRACE(kTraceFailure, L"[VerifyLoginCookie]GetTickCount()=%u, last access=%u", now, record.Tick());
                return CGI_LOGIN_EXPIRED;
            }
            // Only a client that knows the key keeps its login alive.
            record.SetTick(now);
            DWORD cbWritten = 0;
            if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0)
                WriteFile(file.get(), record.bytes, kKeyRecordBytes, &cbWritten, nullptr);
            return CGI_OK;
        }
    }
    // No file, one refused (a link, a folder), or one a purge emptied.
    WDX_TRACE(kTraceFailure, L"retrieve session key failed.");
    return CGI_LOGIN_NO_KEY_FILE;
}

bool CreateKeyFile(const SCookieHost& host, const std::wstring& key, int& sessionId) {
    const std::wstring folder = TempFolder(host);
    if (!folder.empty()) EnsureFolder(folder);
    // A key is a working login: readable by the console's account only.
    SECURITY_ATTRIBUTES* security = PrivateFileAttributes();
    if (!folder.empty() && !security) {
        WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: no security descriptor");
        return false;
    }
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
            CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, security, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
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
        DeleteThroughHandle(file.get());
        WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] key file not written (%u bytes, error %u); drawing again",
                  cbWritten, error);
    }
    WDX_TRACE(kTraceFailure, L"[ShowSetCookieInHeader] no login created: %d session ids drawn, all taken",
              kKeyFileTries);
    return false;
}

}  // namespace plm
