#include "registry/os_RegKey.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "foundation/var_CVar.h"

namespace OS {

CRegKey::CReadKeyCallback::~CReadKeyCallback() = default;
CRegKey::CReadKeyValueCallback::~CReadKeyValueCallback() = default;

namespace {

const REGSAM kReadAccess64 = KEY_READ | KEY_WOW64_64KEY;  // 0x20119
const REGSAM kReadAccess = KEY_READ;                      // 0x20019

const DWORD kKeyNameChars = 260;
const DWORD kValueNameChars = 32767;
const DWORD kDataBytesGiven = 32767;
const DWORD kDataBufferBytes = 65536;

// A key that vanished or went bad under us fails every index; after this many
// failures in a row (whatever their codes) the enumeration gives up.
const int kMaxFailuresInRow = 16;

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Text up to its first NUL, never past cbData bytes (data need not be terminated).
std::wstring TextFromData(const BYTE* data, DWORD cbData) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    const size_t cchMax = cbData / sizeof(wchar_t);
    return std::wstring(text, std::find(text, text + cchMax, L'\0'));
}

void Deliver(CRegKey::CReadKeyValueCallback& callback, const wchar_t* name, DWORD type, const BYTE* data,
             DWORD cbData) {
    if (IsTextType(type)) {
        CVar value(TextFromData(data, cbData).c_str());
        callback.OnValue(name, value);
    } else if (type == REG_DWORD) {
        DWORD number = 0;
        memcpy(&number, data, std::min<DWORD>(cbData, sizeof number));
        CVar value(static_cast<long>(number));
        callback.OnValue(name, value);
    }
}

// A heap buffer of (cbReported + 1) wide characters, as large values need.
bool AllocateLarge(std::vector<wchar_t>& buffer, DWORD cbReported) {
    if (cbReported >= MAXDWORD / 2 - 1) return false;
    buffer.assign(static_cast<size_t>(cbReported) + 1, L'\0');
    return true;
}

// Reads a value too large for the fixed buffer. The size may grow between calls,
// so a second overflow falls back to reading the value by its name.
void DeliverLarge(HKEY key, DWORD index, wchar_t* name, DWORD cchName, DWORD cbReported,
                  CRegKey::CReadKeyValueCallback& callback) {
    std::vector<wchar_t> buffer;
    if (!AllocateLarge(buffer, cbReported)) return;
    DWORD type = 0;
    DWORD cbData = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    LONG result =
        RegEnumValueW(key, index, name, &cchName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cbData);
    if (result == ERROR_MORE_DATA) {
        if (!AllocateLarge(buffer, cbData)) return;
        cbData = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cbData);
    }
    if (result != ERROR_SUCCESS) return;
    const DWORD cbBuffer = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    Deliver(callback, name, type, reinterpret_cast<const BYTE*>(buffer.data()), std::min(cbData, cbBuffer));
}

bool KeyIsGone(LONG result) { return result == ERROR_KEY_DELETED || result == ERROR_INVALID_HANDLE; }

}  // namespace

// The new key replaces the held one; the result is that of closing the old key.
LONG CRegKey::Hold(HKEY key) {
    const LONG closed = Close();
    m_key.reset(key);
    return closed;
}

LONG CRegKey::Open(HKEY parent, const wchar_t* subKey) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, subKey, 0, kReadAccess64, &key);
    if (result != ERROR_SUCCESS) result = RegOpenKeyExW(parent, subKey, 0, kReadAccess, &key);
    if (result != ERROR_SUCCESS) return result;
    return Hold(key);
}

LONG CRegKey::OpenForWrite(HKEY parent, const wchar_t* subKey, REGSAM view) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(parent, subKey, 0, KEY_ALL_ACCESS | view, &key);
    if (result != ERROR_SUCCESS) return result;
    return Hold(key);
}

LONG CRegKey::Create(HKEY parent, const wchar_t* subKey, REGSAM view) {
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view,
                                        nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return result;
    return Hold(key);
}

LONG CRegKey::Close() {
    if (!m_key.valid()) return ERROR_SUCCESS;
    return m_key.close();
}

void CRegKey::EnumKeys(CReadKeyCallback& callback) {
    wchar_t name[kKeyNameChars + 1];
    for (DWORD index = 0;; ++index) {
        memset(name, 0, sizeof name);
        DWORD cchName = kKeyNameChars;
        if (RegEnumKeyExW(m_key.get(), index, name, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        if (!callback.OnKey(name)) return;
    }
}

void CRegKey::EnumValues(CReadKeyValueCallback& callback) {
    wchar_t name[kValueNameChars + 1];
    BYTE data[kDataBufferBytes];
    int failuresInRow = 0;
    for (DWORD index = 0;; ++index) {
        memset(name, 0, sizeof name);
        memset(data, 0, sizeof data);
        DWORD cchName = kValueNameChars;
        DWORD cbData = kDataBytesGiven;
        DWORD type = 0;
        const LONG result = RegEnumValueW(m_key.get(), index, name, &cchName, nullptr, &type, data, &cbData);
        if (result == ERROR_NO_MORE_ITEMS || KeyIsGone(result)) return;
        if (result == ERROR_SUCCESS) {
            Deliver(callback, name, type, data, std::min(cbData, kDataBufferBytes));
        } else if (result == ERROR_MORE_DATA) {
            DeliverLarge(m_key.get(), index, name, cchName, cbData, callback);
        }
        const bool read = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
        failuresInRow = read ? 0 : failuresInRow + 1;
        if (failuresInRow >= kMaxFailuresInRow) return;
    }
}

}  // namespace OS
