#include "RegTestKeys.h"

#include <gtest/gtest.h>

#include "registry/util_plm_compList.h"

namespace regtest {

namespace {
const wchar_t kBackupRoot[] = L"Software\\WDXTest\\AoSBackup";

std::wstring BackupPath(REGSAM view) {
    return std::wstring(kBackupRoot) + (view == KEY_WOW64_32KEY ? L"\\v32" : L"\\v64");
}

// Moves src (HKLM, view) into HKCU backup; true when there was something to move.
bool MoveAside(REGSAM view) {
    OS::UniqueRegKey source;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, 0, KEY_READ | view, source.put()) != ERROR_SUCCESS)
        return false;
    DeleteTree(HKEY_CURRENT_USER, BackupPath(view), 0);
    OS::UniqueRegKey backup;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, BackupPath(view).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, backup.put(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(source.get(), nullptr, backup.get()));
    source.reset();
    DeleteTree(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, view);
    return true;
}

void PutBack(REGSAM view) {
    OS::UniqueRegKey backup;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, BackupPath(view).c_str(), 0, KEY_READ, backup.put()));
    OS::UniqueRegKey target;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                             nullptr, target.put(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(backup.get(), nullptr, target.get()));
}
}  // namespace

void DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
    RegDeleteTreeW(key.get(), nullptr);
    key.reset();
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

std::vector<std::wstring> MissingAncestors(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> missing;
    for (size_t slash = path.rfind(L'\\'); slash != std::wstring::npos && slash > 0;
         slash = path.rfind(L'\\', slash - 1)) {
        const std::wstring parent = path.substr(0, slash);
        if (KeyExists(root, parent, view)) break;
        missing.push_back(parent);
    }
    return missing;
}

// A key with sub-keys is refused by the registry, so only empty ones go.
void RemoveEmptyKeys(HKEY root, const std::vector<std::wstring>& paths, REGSAM view) {
    for (const std::wstring& path : paths) RegDeleteKeyExW(root, path.c_str(), view, 0);
}

OwnedKey::OwnedKey(HKEY root, std::wstring path, REGSAM view) : m_root(root), m_path(std::move(path)), m_view(view) {
    DeleteTree(m_root, m_path, m_view);
    m_createdParents = MissingAncestors(m_root, m_path, m_view);
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_root, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_view, nullptr,
                                             m_key.put(), nullptr));
}

OwnedKey::~OwnedKey() {
    m_key.reset();
    DeleteTree(m_root, m_path, m_view);
    RemoveEmptyKeys(m_root, m_createdParents, m_view);
}

OS::UniqueRegKey OwnedKey::Sub(const std::wstring& sub) const {
    OS::UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_key.get(), sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_view, nullptr,
                                             key.put(), nullptr));
    return key;
}

void OwnedKey::SetRaw(const std::wstring& sub, const wchar_t* name, DWORD type, const void* data, DWORD cb) const {
    OS::UniqueRegKey key = sub.empty() ? OS::UniqueRegKey() : Sub(sub);
    HKEY target = sub.empty() ? m_key.get() : key.get();
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(target, name, 0, type, static_cast<const BYTE*>(data), cb));
}

void OwnedKey::SetText(const std::wstring& sub, const wchar_t* name, const std::wstring& text, DWORD type) const {
    SetRaw(sub, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void OwnedKey::SetDword(const std::wstring& sub, const wchar_t* name, DWORD value) const {
    SetRaw(sub, name, REG_DWORD, &value, sizeof value);
}

bool ReadValue(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name, DWORD* type,
               std::vector<BYTE>* data) {
    OS::UniqueRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    DWORD cb = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, type, nullptr, &cb) != ERROR_SUCCESS) return false;
    data->assign(cb + 2, 0);
    return RegQueryValueExW(key.get(), name, nullptr, type, data->data(), &cb) == ERROR_SUCCESS;
}

std::wstring ReadText(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(root, path, view, name, &type, &data) || type != REG_SZ) return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()));
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    OS::UniqueRegKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

AoSRootBackup::AoSRootBackup() {
    m_missing64 = MissingAncestors(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, KEY_WOW64_64KEY);
    m_missing32 = MissingAncestors(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, KEY_WOW64_32KEY);
    m_saved64 = MoveAside(KEY_WOW64_64KEY);
    m_saved32 = MoveAside(KEY_WOW64_32KEY);
}

AoSRootBackup::~AoSRootBackup() {
    DeleteTree(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, KEY_WOW64_64KEY);
    DeleteTree(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, KEY_WOW64_32KEY);
    if (m_saved64) PutBack(KEY_WOW64_64KEY);
    if (m_saved32) PutBack(KEY_WOW64_32KEY);
    DeleteTree(HKEY_CURRENT_USER, kBackupRoot, 0);
    RemoveEmptyKeys(HKEY_CURRENT_USER, {L"Software\\WDXTest"}, 0);
    RemoveEmptyKeys(HKEY_LOCAL_MACHINE, m_missing64, KEY_WOW64_64KEY);
    RemoveEmptyKeys(HKEY_LOCAL_MACHINE, m_missing32, KEY_WOW64_32KEY);
}

}  // namespace regtest
