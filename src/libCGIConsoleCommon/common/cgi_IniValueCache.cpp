// The ini value cache and the one setting the parser reads through it.
#include "cgi_IniValueCache.h"

#include "aos/AoSSrvSDK.h"

namespace plm {
namespace {

class CLockGuard {
public:
    explicit CLockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~CLockGuard() { LeaveCriticalSection(&m_lock); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

const int kDefaultMaxPostSizeK = 5120;

}  // namespace

CIniValueCache::CIniValueCache(TickSource tick) : m_tick(tick) { InitializeCriticalSection(&m_lock); }

CIniValueCache::~CIniValueCache() { DeleteCriticalSection(&m_lock); }

bool CIniValueCache::Open(const wchar_t* path, int seconds) {
    CLockGuard guard(m_lock);
    if (seconds > 0) m_lifetimeMs = static_cast<DWORD>(seconds) * 1000;
    m_entries.clear();
    m_path = (path && wcslen(path) < MAX_PATH) ? path : L"";
    return !m_path.empty() && GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int CIniValueCache::ReadFileInt(const wchar_t* section, const wchar_t* key, int defaultValue) const {
    return static_cast<int>(GetPrivateProfileIntW(section, key, defaultValue, m_path.c_str()));
}

int CIniValueCache::GetInt(const wchar_t* section, const wchar_t* key, int defaultValue, int mode) {
    if (!section || !key) return defaultValue;
    if (mode == kReadDirect) return ReadFileInt(section, key, defaultValue);
    CLockGuard guard(m_lock);
    std::wstring id = std::wstring(section) + L":" + key;
    DWORD now = m_tick();
    auto found = m_entries.find(id);
    if (found != m_entries.end() && now - found->second.tick <= m_lifetimeMs) return found->second.value;
    int value = ReadFileInt(section, key, defaultValue);
    m_entries[id] = SEntry{value, now};
    return value;
}

bool ReadMaxPostSizeK(int& valueK) {
    // The add-on service's reader, so a 32-bit page sees the server's 64-bit settings.
    std::wstring path = GetServerLocalPath();
    if (path.empty()) return false;
    if (path.back() != L'\\') path += L'\\';
    path += L"private\\kpsserver.ini";
    CIniValueCache ini;
    ini.Open(path.c_str());
    valueK = ini.GetInt(L"INI_SERVER_SECTION", L"MaxCGIPostSizeInK", kDefaultMaxPostSizeK);
    return true;
}

int GetMaxPostSizeK() {
    // Held once read; the CGI process is single-threaded.
    static bool s_read = false;
    static int s_valueK = kDefaultMaxPostSizeK;
    if (!s_read) s_read = ReadMaxPostSizeK(s_valueK);
    return s_valueK;
}

}  // namespace plm
