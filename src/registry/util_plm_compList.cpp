#include "registry/util_plm_compList.h"

#include <cwchar>
#include <string>

#include "foundation/trace_Trace.h"
#include "registry/os_Version.h"

const wchar_t kAoSRootKeyPath[] = L"SOFTWARE\\Norvale\\Quillon\\service\\AoS";

namespace {
using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L".\\util_plm_compList";
const wchar_t* OrNull(const wchar_t* text) { return text ? text : L"(null)"; }
}  // namespace

// ---- lock functions -----------------------------------------------------------

int CreateLock(CRITICAL_SECTION** holder) {
    if (!holder) return 3;
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION));
    if (!memory) return 4;
    CRITICAL_SECTION* cs = static_cast<CRITICAL_SECTION*>(memory);
    if (!InitializeCriticalSectionAndSpinCount(cs, 0)) {
        HeapFree(GetProcessHeap(), 0, memory);
        return 4;
    }
    *holder = cs;
    return 0;
}

int DeleteLock(CRITICAL_SECTION** holder) {
    if (!holder) return 3;
    if (!*holder) return 1;
    DeleteCriticalSection(*holder);
    HeapFree(GetProcessHeap(), 0, *holder);
    *holder = nullptr;
    return 0;
}

int EnterLock(CRITICAL_SECTION* cs) {
    if (!cs) return 1;
    EnterCriticalSection(cs);
    return 0;
}

int LeaveLock(CRITICAL_SECTION* cs) {
    if (!cs) return 1;
    LeaveCriticalSection(cs);
    return 0;
}

// Holds the list's lock (when it exists) until the end of the scope, so an
// exception thrown while reading or searching never leaves it entered.
class CAoSComponentList::CLockScope {
public:
    explicit CLockScope(const CAoSComponentList& list) : m_pLock(list.m_bLockValid ? list.m_pLock : nullptr) {
        if (m_pLock) EnterLock(m_pLock);
    }
    ~CLockScope() {
        if (m_pLock) LeaveLock(m_pLock);
    }
    CLockScope(const CLockScope&) = delete;
    CLockScope& operator=(const CLockScope&) = delete;

private:
    CRITICAL_SECTION* m_pLock;
};

// ---- the list -----------------------------------------------------------------

CAoSComponentList::CAoSComponentList(OS::CRegKey& aosKey) {
    m_bLockValid = CreateLock(&m_pLock) == 0;
    Read(aosKey);
}

CAoSComponentList::~CAoSComponentList() {
    if (m_bLockValid) DeleteLock(&m_pLock);
}

void CAoSComponentList::Read(OS::CRegKey& aosKey) {
    class CAoSEnumCompItemKey : public OS::CRegKey::CReadKeyValueCallback {
    public:
        CAoSEnumCompItemKey(CAoSComponent* component, CAoSComponentList* list, OS::CRegKey* key)
            : m_pComponent(component), m_pList(list), m_pKey(key) {}
        bool OnValue(const std::wstring& name, const CVar& value) override {
            return m_pComponent->SetVariantByName(name, value, false);
        }

    private:
        CAoSComponent* m_pComponent;
        CAoSComponentList* m_pList;
        OS::CRegKey* m_pKey;
    };

    class CAoSEnumCompPLVKey : public OS::CRegKey::CReadKeyCallback {
    public:
        CAoSEnumCompPLVKey(CAoSComponentList* list, OS::CRegKey* addonKey) : m_pList(list), m_pAddonKey(addonKey) {}
        bool OnKey(const std::wstring& name) override {
            std::unique_ptr<CAoSComponent> component(new CAoSComponent);
            OS::CRegKey componentKey;
            if (componentKey.Open(m_pAddonKey->Get(), name.c_str()) != ERROR_SUCCESS) {
                WDX_TRACE(kTraceService, L"[PLM Server]Failed regSubKey.Open(%s)", name.c_str());
                return true;
            }
            CAoSEnumCompItemKey values(component.get(), m_pList, &componentKey);
            componentKey.EnumValues(values);
            m_pList->m_vecComponents.push_back(std::move(component));
            return true;
        }

    private:
        CAoSComponentList* m_pList;
        OS::CRegKey* m_pAddonKey;
    };

    class CAoSEnumCompKey : public OS::CRegKey::CReadKeyCallback {
    public:
        CAoSEnumCompKey(CAoSComponentList* list, OS::CRegKey* aosKey) : m_pList(list), m_pAosKey(aosKey) {}
        bool OnKey(const std::wstring& name) override {
            OS::CRegKey addonKey;
            if (addonKey.Open(m_pAosKey->Get(), name.c_str()) != ERROR_SUCCESS) {
                WDX_TRACE(kTraceService, L"[PLM Server]Failed regSubKey.Open(%s)", name.c_str());
                return true;
            }
            CAoSEnumCompPLVKey components(m_pList, &addonKey);
            addonKey.EnumKeys(components);
            return true;
        }

    private:
        CAoSComponentList* m_pList;
        OS::CRegKey* m_pAosKey;
    };

    WDX_TRACE(kTraceFlow, L"[PLM Server]==> CAoSComponentList::Read()");
    CLockScope lock(*this);
    m_vecComponents.clear();
    CAoSEnumCompKey addons(this, &aosKey);
    aosKey.EnumKeys(addons);
    WDX_TRACE(kTraceFlow, L"[PLM Server]<== CAoSComponentList::Read()");
}

namespace {

bool IdMatches(CAoSComponent& component, const wchar_t* id) {
    CVar value;
    if (!id || !component.GetVariantByName(L"ID", &value)) return false;
    return CfgCompareNames(value.GetText(), id) == 0;
}

bool VersionMatches(CAoSComponent& component, const wchar_t* version) {
    CVar value;
    if (!component.GetVariantByName(L"Version", &value)) return false;
    return CompareVersionString(version ? version : L"", value.GetText()) == 0;
}

}  // namespace

CAoSComponent* CAoSComponentList::GetTargetVersion(const wchar_t* id, const wchar_t* version) {
    WDX_TRACE(kTraceFlow, L"[PLM Server]==> CAoSComponentList::GetTargetVersion(%s, %s)", OrNull(id), OrNull(version));
    CLockScope lock(*this);
    CAoSComponent* found = nullptr;
    for (const auto& component : m_vecComponents) {
        if (IdMatches(*component, id) && VersionMatches(*component, version)) {
            found = component.get();
            break;
        }
    }
    WDX_TRACE(kTraceFlow, L"[PLM Server]<== CAoSComponentList::GetTargetVersion(%s), %p", OrNull(id),
              static_cast<void*>(found));
    return found;
}

// ---- the component ------------------------------------------------------------

CAoSComponent::~CAoSComponent() = default;

CCfgSettingCategoryBase* CAoSComponent::CreateInstance() { return new CAoSComponent; }

void CAoSComponent::DestroyInstance(CCfgSettingCategoryBase* p) { delete p; }

LONG compList_OpenAoSRootForSave(OS::CRegKey& aosKey, REGSAM* view) {
    *view = KEY_WOW64_64KEY;
    LONG result = aosKey.OpenForWrite(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, KEY_WOW64_64KEY);
    if (result != ERROR_FILE_NOT_FOUND) return result;
    *view = 0;
    result = aosKey.OpenForWrite(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, 0);
    if (result != ERROR_FILE_NOT_FOUND) return result;
    return aosKey.Create(HKEY_LOCAL_MACHINE, kAoSRootKeyPath, 0);
}

namespace {

// Decimal value of a field's text: leading white space and a sign allowed, digits
// up to the first other character, 0 without a number.
long DecimalOf(const CVar& value) { return wcstol(value.GetText(), nullptr, 10); }

std::wstring ComponentKeyName(const CVar& platform, const CVar& language, const CVar& version) {
    return std::to_wstring(DecimalOf(platform)) + L"_" + std::to_wstring(DecimalOf(language)) + L"_" +
           version.GetText();
}

class CAoSSaveToRegistryCB : public CCfgSettingCategoryBase::CFieldInfoCallback {
public:
    CAoSSaveToRegistryCB(OS::CRegKey* key, bool bOnlyModified) : m_pKey(key), m_bOnlyModified(bOnlyModified) {}
    bool OnField(int, const std::wstring& name, const CVar& value, bool bModified) override {
        if (m_bOnlyModified && !bModified) return true;
        try {
            const wchar_t* text = value.GetText();
            const size_t cbText = (wcslen(text) + 1) * sizeof(wchar_t);
            if (cbText <= MAXDWORD)
                RegSetValueExW(m_pKey->Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(cbText));
        } catch (const _com_error&) {
            // A value without a text form cannot be written; the others still are.
        }
        return true;
    }

private:
    OS::CRegKey* m_pKey;
    bool m_bOnlyModified;
};

}  // namespace

void CAoSComponent::SaveToRegistry(bool bOnlyModified) {
    WDX_TRACE(kTraceFlow, L"[PLM Server]==> CAoSComponent::SaveToRegistry()");
    OS::CRegKey aosKey;
    REGSAM view = 0;
    if (compList_OpenAoSRootForSave(aosKey, &view) == ERROR_SUCCESS) WriteFields(aosKey, view, bOnlyModified);
    WDX_TRACE(kTraceFlow, L"[PLM Server]<== CAoSComponent::SaveToRegistry()");
}

void CAoSComponent::WriteFields(OS::CRegKey& aosKey, REGSAM view, bool bOnlyModified) {
    CVar id, platform, language, version;
    if (!GetVariantByName(L"ID", &id) || !GetVariantByName(L"Platform", &platform) ||
        !GetVariantByName(L"Language", &language) || !GetVariantByName(L"Version", &version)) {
        WDX_TRACE(kTraceFailure, L"[PLM Server]Failed to find AOS component ID[%s]", L"ID");
        return;
    }
    const std::wstring idText = id.GetText();
    OS::CRegKey addonKey;
    if (addonKey.Create(aosKey.Get(), idText.c_str(), view) != ERROR_SUCCESS) {
        WDX_TRACE(kTraceFailure, L"[PLM Server]Failed to create subkey[%s]", idText.c_str());
        return;
    }
    const std::wstring keyName = ComponentKeyName(platform, language, version);
    OS::CRegKey componentKey;
    if (componentKey.Create(addonKey.Get(), keyName.c_str(), view) != ERROR_SUCCESS) {
        WDX_TRACE(kTraceFailure, L"[PLM Server][PLM Server]Failed to create subkey[%s]", keyName.c_str());
        return;
    }
    CAoSSaveToRegistryCB writer(&componentKey, bOnlyModified);
    EnumFieldValues(writer);
}
