// Upload files judged and deleted through their own handle, and the budget
// that keeps their number and volume in TEMP bounded for the whole server.
#include "cgi_UploadBudget.h"

#include <algorithm>

#include "cgi_HostPaths.h"
#include "cgi_PrivateFiles.h"
#include "cgi_TempFiles.h"
#include "foundation/trace_Trace.h"

namespace plm {
namespace {

using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_UploadBudget";

uint64_t SizeOf(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

}  // namespace

size_t SUploadBudget::MaxFiles() const {
    return static_cast<size_t>(maxFiles > 0 ? maxFiles : kDefaultUploadFilesInTemp);
}

uint64_t SUploadBudget::MaxBytes() const {
    return static_cast<uint64_t>(maxTotalM > 0 ? maxTotalM : kDefaultUploadTotalInMB) * 1048576u;
}

SUploadBudget ReadUploadBudget() {
    SUploadBudget budget;
    budget.maxFiles = ReadServerIniInt(L"INI_SERVER_SECTION", L"MaxUploadFilesInTemp", kDefaultUploadFilesInTemp);
    budget.maxTotalM = ReadServerIniInt(L"INI_SERVER_SECTION", L"MaxUploadTotalInMB", kDefaultUploadTotalInMB);
    return budget;
}

ULONGLONG UploadTimeMs(const FILETIME& created, const FILETIME& written, ULONGLONG nowMs) {
    const ULONGLONG newest = std::max(FileTimeMs(created), FileTimeMs(written));
    return newest > nowMs && newest - nowMs > kUploadAheadMarginMs ? 0 : newest;
}

bool IsUploadOlderThan(ULONGLONG uploadTimeMs, ULONGLONG nowMs, ULONGLONG maxAgeMs) {
    return uploadTimeMs <= nowMs && nowMs - uploadTimeMs > maxAgeMs;
}

// One read of the folder: names, sizes and times from its entries, with no
// file opened, so that a full budget costs a page little more than an empty one.
void CUploadBudget::Scan() {
    WIN32_FIND_DATAW found;
    OS::UniqueFind find(FindFirstFileW((m_folder + L"*.tmp").c_str(), &found));
    if (!find) return;
    const ULONGLONG now = SystemNowMs();
    do {
        if (!IsUploadFileName(found.cFileName) ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const uint64_t cb = SizeOf(found.nFileSizeHigh, found.nFileSizeLow);
        m_oldestFirst.push_back(
            SUpload{UploadTimeMs(found.ftCreationTime, found.ftLastWriteTime, now), cb, found.cFileName});
        ++m_count;
        m_cb += cb;
    } while (FindNextFileW(find.get(), &found));
    std::sort(m_oldestFirst.begin(), m_oldestFirst.end(),
              [](const SUpload& a, const SUpload& b) { return a.timeMs < b.timeMs; });
}

bool CUploadBudget::Fits(size_t filesOfRequest, uint64_t cbRequest) const {
    return m_count + filesOfRequest <= m_limits.MaxFiles() && cbRequest <= m_limits.MaxBytes() &&
           m_cb <= m_limits.MaxBytes() - cbRequest;
}

bool CUploadBudget::MakeRoom(const std::wstring& folder, size_t filesOfRequest, uint64_t cbRequest) {
    // A request beyond the whole budget deletes nothing of others.
    if (filesOfRequest > m_limits.MaxFiles() || !Admits(cbRequest)) return Refuse();
    if (m_folder.empty()) {
        m_folder = folder;
        if (!m_folder.empty() && m_folder.back() != L'\\') m_folder += L'\\';
        Scan();
    }
    while (!Fits(filesOfRequest, cbRequest) && m_next < m_oldestFirst.size()) {
        const SUpload& upload = m_oldestFirst[m_next++];
        BY_HANDLE_FILE_INFORMATION info;
        OS::UniqueFile file = OpenPlainFile(m_folder + upload.name, DELETE | FILE_READ_ATTRIBUTES, &info);
        const DWORD err = file ? ERROR_SUCCESS : GetLastError();
        // Gone, deleted now, or not a file of the library's (a link, a folder,
        // someone else's): it no longer counts. Held open without delete
        // sharing (a parse writing it, a page reading it): it stays and counts.
        if (!file && (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)) continue;
        if (file && !DeleteThroughHandle(file.get())) continue;
        --m_count;
        m_cb -= std::min(m_cb, upload.cb);
    }
    return Fits(filesOfRequest, cbRequest) || Refuse();
}

bool CUploadBudget::Refuse() const {
    WDX_TRACE(kTraceFailure, L"[UploadBudget] no room in the uploads' budget (%d files, %d MB); refused",
              static_cast<int>(m_limits.MaxFiles()), static_cast<int>(m_limits.MaxBytes() / 1048576u));
    return false;
}

}  // namespace plm
