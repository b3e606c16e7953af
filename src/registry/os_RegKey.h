// Owner of one open registry key, with callback-driven enumeration of its
// sub-keys and values.
#pragma once
#include <windows.h>

#include <string>

#include "foundation/win_Handle.h"

class CVar;

namespace OS {

class CRegKey {
public:
    class CReadKeyCallback {
    public:
        virtual ~CReadKeyCallback() = 0;
        // true asks for the next sub-key, false stops the enumeration.
        virtual bool OnKey(const std::wstring& name) = 0;
    };

    class CReadKeyValueCallback {
    public:
        virtual ~CReadKeyValueCallback() = 0;
        // The result is not used: every value is delivered.
        virtual bool OnValue(const std::wstring& name, const CVar& value) = 0;
    };

    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens subKey for reading, in the 64-bit view first, then in the process's
    // default view. Results are Win32 codes; on failure the held key stays. On
    // success (and likewise for OpenForWrite and Create) the result is that of
    // closing the key held before, ERROR_SUCCESS when there was none.
    LONG Open(HKEY parent, const wchar_t* subKey);
    // Opens subKey with full access in the given view only (0: default view).
    LONG OpenForWrite(HKEY parent, const wchar_t* subKey, REGSAM view);
    // Creates subKey, or opens it when it exists, with full access in the given
    // view (0: the process's default view).
    LONG Create(HKEY parent, const wchar_t* subKey, REGSAM view = 0);
    // The result of closing the held key; ERROR_SUCCESS when none is held.
    LONG Close();

    // Names of the direct sub-keys; ends at the first failure or end of list.
    void EnumKeys(CReadKeyCallback& callback);
    // Values of type REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ (first string, no
    // expansion) as text and REG_DWORD as a 32-bit integer; others are skipped.
    void EnumValues(CReadKeyValueCallback& callback);

    HKEY Get() const { return m_key.get(); }
    bool IsOpen() const { return m_key.valid(); }

private:
    LONG Hold(HKEY key);

    UniqueRegKey m_key;
};

}  // namespace OS
