// The library's upload files in the server's TEMP folder: how one is opened,
// judged and deleted as itself, how old it is, and the server-wide budget that
// bounds their number and volume.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cgi_PrivateFiles.h"
#include "foundation/win_Handle.h"

namespace plm {

// The budget's defaults (kpsscan.ini: MaxUploadFilesInTemp, MaxUploadTotalInMB;
// missing, 0 or negative: these).
const int kDefaultUploadFilesInTemp = 1000;
const int kDefaultUploadTotalInMB = 1024;
// An upload dated more than this ahead of the clock was written before the
// clock was set back: it counts as old.
const ULONGLONG kUploadAheadMarginMs = 300000;

struct SUploadBudget {
    int maxFiles = kDefaultUploadFilesInTemp;
    int maxTotalM = kDefaultUploadTotalInMB;
    size_t MaxFiles() const;
    uint64_t MaxBytes() const;
};
SUploadBudget ReadUploadBudget();

// Milliseconds since 1601 by which an upload's age is judged: the later of its
// creation and last write; 0 (the oldest) when that is more than the margin
// ahead of nowMs.
ULONGLONG UploadTimeMs(const FILETIME& created, const FILETIME& written, ULONGLONG nowMs);
bool IsUploadOlderThan(ULONGLONG uploadTimeMs, ULONGLONG nowMs, ULONGLONG maxAgeMs);

// One request's share of the budget. The first file it stores reads the
// folder once; each file then makes room by deleting the oldest closed upload
// files of others (a file open without delete sharing, such as one a parse is
// writing, stays and counts). The request reserves its whole body length.
class CUploadBudget {
public:
    explicit CUploadBudget(const SUploadBudget& limits) : m_limits(limits) {}
    // False when a request of cbRequest bytes exceeds the whole budget.
    bool Admits(uint64_t cbRequest) const { return cbRequest <= m_limits.MaxBytes(); }
    // Room in folder for the request's file number filesOfRequest (counting
    // from 1); false when the budget cannot hold it.
    bool MakeRoom(const std::wstring& folder, size_t filesOfRequest, uint64_t cbRequest);

private:
    struct SUpload {
        ULONGLONG timeMs;
        uint64_t cb;
        std::wstring name;
    };
    void Scan();
    bool Fits(size_t filesOfRequest, uint64_t cbRequest) const;
    bool Refuse() const;  // traces; false

    SUploadBudget m_limits;
    std::wstring m_folder;  // empty until the first file
    std::vector<SUpload> m_oldestFirst;
    size_t m_next = 0;
    size_t m_count = 0;  // upload files of others in the folder
    uint64_t m_cb = 0;
};

}  // namespace plm
