// Temporary files of a request: created once under a random name and deleted
// through their own handle, so that nothing can be slipped in between.
#include "cgi_TempFiles.h"

#include <ntsecapi.h>

#include <cstdio>

namespace plm {
namespace {

const int kNameTries = 16;

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

}  // namespace plm
