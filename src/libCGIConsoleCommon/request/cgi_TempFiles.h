// The temporary files of one request's uploads, and the periodic sweeps of
// the server's TEMP folder.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "cgi_UploadBudget.h"
#include "foundation/win_Handle.h"

namespace plm {

// Creates a new file at path, failing with ERROR_FILE_EXISTS when the name is
// taken; the handle must be writable.
typedef HANDLE (*CreateTempFileFn)(const wchar_t* path);

// The temporary files of one request. Each is created new under a random name
// (so never a file or link someone else put there) and written through the
// handle that created it, which stays open and unshared until the list goes.
// The destructor deletes every file not handed over: a parse that fails
// leaves none behind.
class CRequestTempFiles {
public:
    explicit CRequestTempFiles(CreateTempFileFn create, const SUploadBudget& budget = SUploadBudget())
        : m_create(create), m_budget(budget) {}
    ~CRequestTempFiles();
    CRequestTempFiles(const CRequestTempFiles&) = delete;
    CRequestTempFiles& operator=(const CRequestTempFiles&) = delete;

    // A new file folder + prefix + 8 hex digits + ".tmp"; false, with the error
    // in GetLastError, when none can be made.
    bool Create(const std::wstring& folder, const wchar_t* prefix);
    // The server-wide budget of upload files: whether a request of cbRequest
    // bytes can fit at all, and room for its next file in folder (the oldest
    // closed uploads go first); false: the request is refused (3902).
    bool Admits(uint64_t cbRequest) const { return m_budget.Admits(cbRequest); }
    bool MakeRoom(const std::wstring& folder, uint64_t cbRequest) {
        return m_budget.MakeRoom(folder, m_files.size() + 1, cbRequest);
    }
    size_t Count() const { return m_files.size(); }
    HANDLE LastHandle() const { return m_files.back().handle.get(); }
    const std::wstring& LastPath() const { return m_files.back().path; }
    // Deletes the newest file now.
    void DiscardLast();
    // Closes every file and hands its path, in creation order, to take (which
    // must not throw); the list is then empty.
    template <typename Take>
    void HandOver(Take take) {
        for (SFile& file : m_files) {
            file.handle.reset();
            take(std::move(file.path));
        }
        m_files.clear();
    }

private:
    struct SFile {
        OS::UniqueFile handle;
        std::wstring path;
    };
    static void Delete(SFile& file);

    CreateTempFileFn m_create;
    CUploadBudget m_budget;
    std::vector<SFile> m_files;
};

// One periodic pass over the server's TEMP folder, shared by every process of
// the server through a hidden marker file whose last-write time says when the
// last turn was taken: no request pays for a full pass more than once per
// interval for the whole server. The turn is taken when there is no marker
// yet, when its time is at least intervalMs ago, when it is more than a few
// minutes ahead (the clock was set back), or at once while the marker's state
// word says a pass made in slices is under way; taking it sets the time to
// now. A taken turn holds a lock on the marker until it goes, so turns never
// overlap: a process that finds the marker locked by a recent turn leaves the
// pass to its holder.
// No other process can stop the passes. A turn that cannot be taken (the
// marker's lock held long past its interval, the marker not a plain file or
// not to be opened) is traced at level 5, and the turn is then kept by a
// marker of its own beside it (the name with ".overdue" added), whose clock
// starts when the block is first noticed: once that is more than five minutes
// ago the noticing request takes the turn there, so a block delays a pass by
// minutes and never stops it.
class CSweepTurn {
public:
    CSweepTurn(const std::wstring& markerPath, ULONGLONG intervalMs);
    ~CSweepTurn();
    CSweepTurn(const CSweepTurn&) = delete;
    CSweepTurn& operator=(const CSweepTurn&) = delete;
    bool Taken() const { return m_taken; }
    // The state word kept in the marker: 0 when no pass is under way.
    DWORD State() const { return m_state; }
    // Records the state for the next turn; only while Taken().
    void SetState(DWORD state);

private:
    enum EResult { kTaken, kNotDue, kBusy, kBlocked };
    EResult Try(const std::wstring& path, ULONGLONG intervalMs, bool dueWhenNew);

    OS::UniqueFile m_marker;
    bool m_taken = false;
    DWORD m_state = 0;
    const wchar_t* m_why = L"";
    DWORD m_error = 0;
};

const ULONGLONG kSweepIntervalMs = 60000;
// The bound of an upload's life in TEMP: the setting's default and its ceiling.
const int kDefaultUploadLifeSeconds = 3600;
const int kMinUploadLifeSeconds = 60;
const int kMaxUploadLifeSeconds = 86400;

// A name of the library's own upload forms: "KPS" (a multipart file) or "Cfw"
// (a URL-encoded body's binary block), eight hex digits (upper case, as the
// library writes them), ".tmp".
bool IsUploadFileName(const wchar_t* name);
// Deletes every upload in tempFolder whose last write or creation is more than
// maxAgeMs ago by the system clock, or more than a few minutes ahead of it;
// each is opened as itself (no link followed, a hard link or reparse point
// left), judged and deleted through that handle, so a name that meanwhile
// passed to a new upload is never deleted, and a file still open unshared (a
// parse writing it) is left. Returns the count deleted.
int SweepOldUploads(const std::wstring& tempFolder, ULONGLONG maxAgeMs);
// The bound of an upload's life for the setting MaxUploadAgeInSec: missing, 0
// or negative: an hour; at least a minute (a page has that long to move what
// it received), at most a day.
int UploadLifeSeconds(int setting);
// The upload sweep of the server folder, when its once-a-minute turn is free,
// with the bound of MaxUploadAgeInSec (kpsscan.ini).
void SweepUploadsInTurn(const std::wstring& serverFolder);

}  // namespace plm
