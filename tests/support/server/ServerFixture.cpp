#include "ServerFixture.h"

#include "aos/AoSSrvSDK.h"
#include "foundation/win_Handle.h"
#include "registry/util_plm_compList.h"

namespace testsupport {

namespace {
OS::UniqueRegKey OpenInformationKey() {
    OS::UniqueRegKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerInformationKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY,
                    nullptr, key.put(), nullptr);
    return key;
}

void WriteLocalPath(HKEY key, const std::wstring& value) {
    RegSetValueExW(key, kServerLocalPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
}  // namespace

LocalPathOverride::LocalPathOverride(const std::wstring* value) {
    OS::UniqueRegKey key = OpenInformationKey();
    wchar_t old[1024] = {};
    DWORD cb = sizeof(old) - sizeof(wchar_t);
    m_hadValue = RegQueryValueExW(key.get(), kServerLocalPathValue, nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                                  &cb) == ERROR_SUCCESS;
    m_oldValue = old;
    if (value)
        WriteLocalPath(key.get(), *value);
    else
        RegDeleteValueW(key.get(), kServerLocalPathValue);
}

LocalPathOverride::~LocalPathOverride() {
    OS::UniqueRegKey key = OpenInformationKey();
    if (m_hadValue)
        WriteLocalPath(key.get(), m_oldValue);
    else
        RegDeleteValueW(key.get(), kServerLocalPathValue);
}

void DeleteAoSRoot() {
    const std::wstring root = kAoSRootKeyPath;
    const size_t slash = root.find_last_of(L'\\');
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        OS::UniqueRegKey parent;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, root.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, parent.put()) ==
            ERROR_SUCCESS)
            RegDeleteTreeW(parent.get(), root.substr(slash + 1).c_str());
    }
}

SimulatedServer::SimulatedServer(const wchar_t* tag, const std::wstring& serverVersion, const std::wstring& subFolder)
    : m_dir(tag) {
    m_install = m_dir.path() + L"\\" + subFolder + L"\\";
    std::wstring serviceDir = m_install + L"Web\\Service";
    CreateDirectoryW(m_install.c_str(), nullptr);
    CreateDirectoryW((m_install + L"Web").c_str(), nullptr);
    CreateDirectoryW(serviceDir.c_str(), nullptr);
    if (!serverVersion.empty()) {
        std::wstring stub = ExeDir() + L"\\kpsservice_" + serverVersion + L".exe";
        CopyFileW(stub.c_str(), (serviceDir + L"\\KpsService.exe").c_str(), FALSE);
    }
    m_localPath = std::make_unique<LocalPathOverride>(&m_install);
}

std::wstring SimulatedServer::AddonFolder() const { return m_dir.path() + L"\\Addon\\WDX"; }

void SimulatedServer::SetLanguage(const std::wstring& code) {
    WritePrivateProfileStringW(L"INI_SERVER_SECTION", L"Language_Code", code.c_str(),
                               (m_install + L"kpsscan.ini").c_str());
}

}  // namespace testsupport
