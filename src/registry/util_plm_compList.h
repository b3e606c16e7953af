// The server's add-on component list: one registry key per add-on under the AoS
// root, one sub-key per component ("<Platform>_<Language>_<Version>"), one value
// per field. Components are read into configuration categories, searched by id
// and version, and written back field by field.
#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "registry/os_RegKey.h"
#include "registry/util_cfg_ConfigurationSetting.h"

// HKEY_LOCAL_MACHINE relative path of the add-on component list.
extern const wchar_t kAoSRootKeyPath[];

class CAoSComponent : public CCfgSettingCategoryBase {
public:
    ~CAoSComponent() override;
    CCfgSettingCategoryBase* CreateInstance() override;
    void DestroyInstance(CCfgSettingCategoryBase* p) override;
    // Writes all fields (false) or only those whose modified flag is set (true) as
    // REG_SZ text into the component's key, in the registry view where the AoS root
    // is read from. Failures are trace lines only; the flags are not cleared.
    virtual void SaveToRegistry(bool bOnlyModified);

private:
    void WriteFields(OS::CRegKey& aosKey, REGSAM view, bool bOnlyModified);
};

// Opens the AoS root for writing in the view reading finds it in: the 64-bit view
// when it exists there, else the default view; creates it in the default view
// when it exists in neither. *view receives the view flag for sub-keys
// (KEY_WOW64_64KEY or 0). Returns a Win32 code.
LONG compList_OpenAoSRootForSave(OS::CRegKey& aosKey, REGSAM* view);

// Heap-allocated critical section used by the list. Results as numbered below.
// None returns 2 (a structured exception): the critical-section calls raise none since Windows Vista.
int CreateLock(CRITICAL_SECTION** holder);  // 0 ok, 3 null holder, 4 no memory/init failed
int DeleteLock(CRITICAL_SECTION** holder);  // 0 ok, 1 holds null, 3 null holder
int EnterLock(CRITICAL_SECTION* cs);        // 0 ok, 1 null
int LeaveLock(CRITICAL_SECTION* cs);        // 0 ok, 1 null

class CAoSComponentList {
public:
    // aosKey must be open on the AoS root with read access; it is not kept.
    explicit CAoSComponentList(OS::CRegKey& aosKey);
    ~CAoSComponentList();
    CAoSComponentList(const CAoSComponentList&) = delete;
    CAoSComponentList& operator=(const CAoSComponentList&) = delete;

    // Replaces the contents with what the registry holds now.
    void Read(OS::CRegKey& aosKey);
    // First component whose ID matches id (A-Z case-insensitive) and whose Version
    // gives the same version and build as version (null: the empty text). Owned by
    // the list, valid until the next Read or the list's destruction; null if none.
    CAoSComponent* GetTargetVersion(const wchar_t* id, const wchar_t* version);

    size_t Count() const { return m_vecComponents.size(); }
    CAoSComponent* At(size_t index) const { return m_vecComponents[index].get(); }

private:
    class CLockScope;

    std::vector<std::unique_ptr<CAoSComponent>> m_vecComponents;
    bool m_bLockValid = false;
    CRITICAL_SECTION* m_pLock = nullptr;
};
