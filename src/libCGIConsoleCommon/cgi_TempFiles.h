// The temporary files of one request's uploads.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

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
    explicit CRequestTempFiles(CreateTempFileFn create) : m_create(create) {}
    ~CRequestTempFiles();
    CRequestTempFiles(const CRequestTempFiles&) = delete;
    CRequestTempFiles& operator=(const CRequestTempFiles&) = delete;

    // A new file folder + prefix + 8 hex digits + ".tmp"; false, with the error
    // in GetLastError, when none can be made.
    bool Create(const std::wstring& folder, const wchar_t* prefix);
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
    std::vector<SFile> m_files;
};

}  // namespace plm
