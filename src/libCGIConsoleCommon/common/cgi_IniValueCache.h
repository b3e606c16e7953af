// Integer settings of one ini file, cached for a while so that pages asking
// often do not read the file each time.
#pragma once
#include <windows.h>

#include <map>
#include <string>

namespace plm {

class CIniValueCache {
public:
    typedef DWORD(WINAPI* TickSource)();
    enum { kReadDirect = 1 };  // GetInt mode: bypass the cache

    explicit CIniValueCache(TickSource tick = &GetTickCount);
    ~CIniValueCache();
    CIniValueCache(const CIniValueCache&) = delete;
    CIniValueCache& operator=(const CIniValueCache&) = delete;

    // Keeps path (when it fits in 260 characters) whether or not the file exists;
    // returns whether it exists. seconds > 0 sets the cache lifetime.
    bool Open(const wchar_t* path, int seconds = 0);
    int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue, int mode = 0);
    DWORD LifetimeMs() const { return m_lifetimeMs; }

private:
    struct SEntry {
        int value;
        DWORD tick;
    };
    int ReadFileInt(const wchar_t* section, const wchar_t* key, int defaultValue) const;

    TickSource m_tick;
    std::wstring m_path;
    DWORD m_lifetimeMs = 30000;
    std::map<std::wstring, SEntry> m_entries;  // "section:key"
    CRITICAL_SECTION m_lock;
};

// Limit of URL-encoded bodies from the server's private settings, read once per process.
int GetMaxPostSizeK();
// The same without the process-wide hold (tests).
bool ReadMaxPostSizeK(int& valueK);

}  // namespace plm
