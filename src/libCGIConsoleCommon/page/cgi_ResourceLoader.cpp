// The console's resource-string DLL.
#include <cwctype>
#include <string>

#include "cgi_HostPaths.h"
#include "console/plm_Console.h"
#include "foundation/str_Text.h"
#include "foundation/win_Handle.h"

namespace plm {
namespace {

typedef int(__cdecl* GetResourceStringFn)(const wchar_t* language, int id, wchar_t* buffer, int cchBuffer);

const size_t kLanguageChars = 16;
const int kTextChars = 1024;

bool IsAbsolutePath(const std::wstring& path) {
    auto isSlash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && isSlash(path[2])) return true;
    return path.size() >= 2 && isSlash(path[0]) && isSlash(path[1]);
}

// Always a full path: the DLL search path (working folder, PATH) never picks
// the console's resources. A relative prefix counts from the program's folder.
std::wstring ResourceDllPath(const wchar_t* prefix, const wchar_t* moduleName) {
    const std::wstring name = std::wstring(moduleName && *moduleName ? moduleName : L"CGIResUTF8") + L".dll";
    wchar_t cgiFolder[MAX_PATH] = {};
    GetConsoleKind(cgiFolder, MAX_PATH);
    if (cgiFolder[0]) return std::wstring(cgiFolder) + L"\\" + name;
    const std::wstring path = std::wstring(prefix ? prefix : L"") + name;
    if (IsAbsolutePath(path)) return path;
    const std::wstring folder = RunningProgramFolder();
    return folder.empty() ? std::wstring() : folder + path;
}

// The first language the request offers ("de-DE" of "de-DE,de;q=0.9"), "en"
// when none is usable.
void RequestLanguage(wchar_t (&language)[kLanguageChars]) {
    std::wstring offered;
    ReadEnvironment(L"HTTP_ACCEPT_LANGUAGE", offered, 256);
    size_t cch = 0;
    for (wchar_t c : offered) {
        if (c == L' ' && cch == 0) continue;
        if (!(iswalpha(c) && c < 0x80) && c != L'-') break;
        if (cch + 1 >= kLanguageChars) break;
        language[cch++] = c;
    }
    language[cch] = L'\0';
    if (cch == 0) Str::CopyBounded(language, kLanguageChars, L"en");
}

// A reference of our own on the module that holds code.
HMODULE AddModuleReference(void* code) {
    HMODULE module = nullptr;
    if (!code || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(code), &module))
        return nullptr;
    return module;
}

}  // namespace

CResourceLoader::CResourceLoader(const wchar_t* prefix, const wchar_t* moduleName)
    : m_hModule(nullptr), m_pfnGetResourceString(nullptr), m_language() {
    const std::wstring path = ResourceDllPath(prefix, moduleName);
    if (path.empty()) throw new CResourceLoaderException;
    OS::UniqueModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) throw new CResourceLoaderException;
    void* entry = reinterpret_cast<void*>(GetProcAddress(module.get(), "cgi_GetResourceString"));
    if (!entry) {
        module.release();  // stays loaded: a program may go on using the module after the failure
        throw new CResourceLoaderException;
    }
    m_hModule = module.release();
    m_pfnGetResourceString = entry;
    RequestLanguage(m_language);
}

CResourceLoader::CResourceLoader(const CResourceLoader& other)
    : m_hModule(AddModuleReference(other.m_pfnGetResourceString)),
      m_pfnGetResourceString(m_hModule ? other.m_pfnGetResourceString : nullptr) {
    wmemcpy(m_language, other.m_language, kLanguageChars);
}

CResourceLoader& CResourceLoader::operator=(const CResourceLoader& other) {
    if (this == &other) return *this;
    HMODULE module = AddModuleReference(other.m_pfnGetResourceString);
    if (m_hModule) FreeLibrary(static_cast<HMODULE>(m_hModule));
    m_hModule = module;
    m_pfnGetResourceString = module ? other.m_pfnGetResourceString : nullptr;
    wmemcpy(m_language, other.m_language, kLanguageChars);
    return *this;
}

CResourceLoader::~CResourceLoader() {
    if (m_hModule) FreeLibrary(static_cast<HMODULE>(m_hModule));
}

std::wstring CResourceLoader::GetString(int id) const {
    if (!m_pfnGetResourceString) return std::wstring();
    wchar_t text[kTextChars] = {};
    reinterpret_cast<GetResourceStringFn>(m_pfnGetResourceString)(m_language, id, text, kTextChars);
    text[kTextChars - 1] = L'\0';
    return text;
}

}  // namespace plm
