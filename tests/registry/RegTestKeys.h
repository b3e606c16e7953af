// Registry fixtures for the registry tests: keys that a test owns for its
// lifetime, in a chosen WOW64 view, and a save/restore of the server's AoS root.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/win_Handle.h"

namespace regtest {

// Deletes root\path (in the given view) with everything below it; "not found" is fine.
void DeleteTree(HKEY root, const std::wstring& path, REGSAM view);

// Ancestors of root\path (not the key itself) that do not exist yet, deepest first.
std::vector<std::wstring> MissingAncestors(HKEY root, const std::wstring& path, REGSAM view);
// Deletes those of the given keys that are empty, in order.
void RemoveEmptyKeys(HKEY root, const std::vector<std::wstring>& paths, REGSAM view);

// A key root\path in one view, deleted before and after the test together with
// the parents it had to create.
class OwnedKey {
public:
    OwnedKey(HKEY root, std::wstring path, REGSAM view = 0);
    ~OwnedKey();
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;

    HKEY Get() const { return m_key.get(); }
    HKEY Root() const { return m_root; }
    const std::wstring& Path() const { return m_path; }
    REGSAM View() const { return m_view; }

    // Creates (or opens) a sub-key path below this key in the same view.
    OS::UniqueRegKey Sub(const std::wstring& sub) const;
    void SetText(const std::wstring& sub, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) const;
    void SetDword(const std::wstring& sub, const wchar_t* name, DWORD value) const;
    void SetRaw(const std::wstring& sub, const wchar_t* name, DWORD type, const void* data, DWORD cb) const;

private:
    HKEY m_root;
    std::wstring m_path;
    REGSAM m_view;
    std::vector<std::wstring> m_createdParents;
    OS::UniqueRegKey m_key;
};

// Reads a value below root\path in a view. False when it is missing.
bool ReadValue(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name, DWORD* type,
               std::vector<BYTE>* data);
// Text of a REG_SZ value (empty when missing or another type).
std::wstring ReadText(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view);

// Moves the server's AoS root (both views) aside for a test and puts it back
// afterwards, so tests that must use the fixed path leave no trace.
class AoSRootBackup {
public:
    AoSRootBackup();
    ~AoSRootBackup();
    AoSRootBackup(const AoSRootBackup&) = delete;
    AoSRootBackup& operator=(const AoSRootBackup&) = delete;

private:
    bool m_saved64 = false;
    bool m_saved32 = false;
    std::vector<std::wstring> m_missing64;
    std::vector<std::wstring> m_missing32;
};

}  // namespace regtest
