// The C interface of the console library (console/plm_ConsoleC.h): the plm
// classes behind opaque handles, every call fenced so that nothing but a status
// leaves it.
#include "cgi_CInterface.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "cgi_ParamList.h"
#include "cgi_PutStream.h"
#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "console/plm_ConsoleC.h"
#include "foundation/mbwc_MBWC.h"
#include "foundation/trace_Trace.h"
#include "WdxVersion.h"

using FrameworkChannel::TraceWrite;

// What a handle stands for. A handle the caller holds is a number, never the
// object's address: a closed handle stays unknown for the life of the process,
// so a second close or a late call is refused instead of reaching freed memory.
struct PLM_PARAMS_ {
    plm::CGetParameter value;
};
struct PLM_CONSOLE_ {
    plm::CConsoleCommon value;
};
struct PLM_STREAM_ {
    plm::CPutStream value;
};
struct PLM_RESOURCES_ {
    plm::CResourceLoader value;
};

namespace plm {
namespace {

const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_CInterface";

// The low bits of a handle's number name its kind; the rest count up from 1.
const uintptr_t kKindBits = 2;
template <typename Object>
constexpr uintptr_t KindOf();
template <>
constexpr uintptr_t KindOf<PLM_PARAMS_>() {
    return 0;
}
template <>
constexpr uintptr_t KindOf<PLM_CONSOLE_>() {
    return 1;
}
template <>
constexpr uintptr_t KindOf<PLM_STREAM_>() {
    return 2;
}
template <>
constexpr uintptr_t KindOf<PLM_RESOURCES_>() {
    return 3;
}

// Live handles and texts. Objects are shared, so a close on another thread never
// frees one under a call that is using it.
struct SRegistry {
    std::mutex lock;
    uintptr_t lastNumber = 0;
    std::unordered_map<uintptr_t, std::shared_ptr<void>> handles;
    std::unordered_set<const char*> texts;
};
SRegistry& Registry() {
    static SRegistry* registry = new SRegistry;  // never destroyed: calls may come during exit
    return *registry;
}

template <typename Object>
std::shared_ptr<Object> Find(Object* handle) {
    const uintptr_t number = reinterpret_cast<uintptr_t>(handle);
    if (number == 0 || (number & ((1u << kKindBits) - 1)) != KindOf<Object>()) return nullptr;
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto found = registry.handles.find(number);
    return found == registry.handles.end() ? nullptr : std::static_pointer_cast<Object>(found->second);
}

// Hands out a new handle for object.
template <typename Object>
int Publish(std::shared_ptr<Object> object, Object** pHandle) {
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    if (registry.lastNumber >= (UINTPTR_MAX >> kKindBits)) return PLM_E_NO_MEMORY;  // numbers used up
    const uintptr_t number = (++registry.lastNumber << kKindBits) | KindOf<Object>();
    registry.handles.emplace(number, std::move(object));
    *pHandle = reinterpret_cast<Object*>(number);
    return PLM_OK;
}

template <typename Object>
int Close(Object* handle) {
    const uintptr_t number = reinterpret_cast<uintptr_t>(handle);
    std::shared_ptr<void> object;  // released after the lock
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto found = registry.handles.find(number);
    if (number == 0 || (number & ((1u << kKindBits) - 1)) != KindOf<Object>() || found == registry.handles.end())
        return PLM_E_BAD_HANDLE;
    object = std::move(found->second);
    registry.handles.erase(found);
    return PLM_OK;
}

template <typename Object>
Object* CopyOf(const Object& object) {
    return new Object{object.value};
}
// The parameter list is the process's; a copy is one more empty view of it.
PLM_PARAMS_* CopyOf(const PLM_PARAMS_&) { return new PLM_PARAMS_; }

template <typename Object>
int Duplicate(Object* handle, Object** pCopy) {
    if (!pCopy) return PLM_E_INVALID_ARG;
    *pCopy = nullptr;
    auto object = Find(handle);
    if (!object) return PLM_E_BAD_HANDLE;
    return Publish(std::shared_ptr<Object>(CopyOf(*object)), pCopy);
}

// Runs body; whatever it throws becomes a status and a trace line.
template <typename Body>
int Fenced(const wchar_t* function, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        WDX_TRACE(kTraceFailure, L"[%s] out of memory", function);
        return PLM_E_NO_MEMORY;
    } catch (CResourceLoaderException* error) {
        delete error;
        WDX_TRACE(kTraceFailure, L"[%s] the resource DLL cannot be used", function);
        return PLM_E_RESOURCE_DLL;
    } catch (...) {
        WDX_TRACE(kTraceFailure, L"[%s] failed with an exception", function);
        return PLM_E_INTERNAL;
    }
}

// Fenced, for a call on a handle: one that is not live is refused before body
// sees its object.
template <typename Object, typename Body>
int OnHandle(const wchar_t* function, Object* handle, Body body) {
    return Fenced(function, [&] {
        auto object = Find(handle);
        return object ? body(object->value) : PLM_E_BAD_HANDLE;
    });
}

int StatusOut(int status, int* pStatus) {
    if (!pStatus) return PLM_E_INVALID_ARG;
    *pStatus = status;
    return PLM_OK;
}

// A failed call leaves its own status in *pStatus: a caller that reads only
// the out value still never sees PLM_OK.
int FailedInto(int result, int* pStatus) {
    if (result != PLM_OK && pStatus) *pStatus = result;
    return result;
}

// Out values are set before any check, so that every failure (a bad handle,
// an invalid argument, an exception) leaves them defined.
template <typename Value>
void Preset(Value* out, Value value) {
    if (out) *out = value;
}

// The caller's buffer may take cchBuffer characters; a size whose bytes do not
// fit the address space is a caller's mistake, not a large buffer.
bool ValidBuffer(const wchar_t* buffer, size_t cchBuffer) {
    if (cchBuffer > SIZE_MAX / sizeof(wchar_t)) return false;
    if (!buffer) return cchBuffer == 0;
    return reinterpret_cast<uintptr_t>(buffer) <= UINTPTR_MAX - cchBuffer * sizeof(wchar_t);
}

int CopyOut(const std::wstring& text, wchar_t* buffer, size_t cchBuffer, size_t* pcchNeeded) {
    const size_t cchNeeded = text.size() + 1;
    if (pcchNeeded) *pcchNeeded = cchNeeded;
    if (!buffer || cchBuffer < cchNeeded) {
        if (buffer && cchBuffer > 0) buffer[0] = L'\0';
        return PLM_E_BUFFER_TOO_SMALL;
    }
    wmemcpy(buffer, text.c_str(), cchNeeded);
    return PLM_OK;
}

// A library-owned copy of the text that make() returns, for plm_FreeText.
template <typename Make>
int HandOutText(Make make, char** ppText, size_t* pcbText) {
    if (!ppText) return PLM_E_INVALID_ARG;
    *ppText = nullptr;
    const std::string text = make();
    std::unique_ptr<char[]> block(new char[text.size() + 1]);
    memcpy(block.get(), text.c_str(), text.size() + 1);
    SRegistry& registry = Registry();
    {
        std::lock_guard<std::mutex> lock(registry.lock);
        registry.texts.insert(block.get());
    }
    *ppText = block.release();
    if (pcbText) *pcbText = text.size();
    return PLM_OK;
}

int WroteStatus(bool written) { return written ? PLM_OK : PLM_E_WRITE; }

// The parameter cursor is the process's, shared by every handle: one call on it
// at a time, so a walk on another thread never sees it half moved.
std::mutex& CursorLock() {
    static std::mutex* lock = new std::mutex;  // never destroyed: calls may come during exit
    return *lock;
}

struct SStatusText {
    int status;
    const wchar_t* name;
    const wchar_t* meaning;
};
const SStatusText kStatusTexts[] = {
    {PLM_OK, L"PLM_OK", L"success"},
    {PLM_CGI_ERR_BINARY_MODE, L"PLM_CGI_ERR_BINARY_MODE", L"standard input cannot be switched to binary mode"},
    {PLM_CGI_ERR_UPLOAD_TOO_LARGE, L"PLM_CGI_ERR_UPLOAD_TOO_LARGE",
     L"the body, an upload or the number of files is beyond a limit or the upload budget"},
    {PLM_CGI_ERR_NO_TEMP_NAME, L"PLM_CGI_ERR_NO_TEMP_NAME", L"an upload file could not be created or written whole"},
    {PLM_CGI_LOGIN_KEY_MISMATCH, L"PLM_CGI_LOGIN_KEY_MISMATCH", L"the key cookie differs from the session's key file"},
    {PLM_CGI_LOGIN_EXPIRED, L"PLM_CGI_LOGIN_EXPIRED", L"the login expired (by its stamp or on the server)"},
    {PLM_CGI_LOGIN_NO_COOKIE, L"PLM_CGI_LOGIN_NO_COOKIE", L"the request carries no cookie"},
    {PLM_CGI_LOGIN_NO_KEY_FILE, L"PLM_CGI_LOGIN_NO_KEY_FILE", L"no key file for the session, or one idle for a day"},
    {PLM_CGI_ERR_NO_PARAM_LIST, L"PLM_CGI_ERR_NO_PARAM_LIST", L"no parameter list exists"},
    {PLM_CGI_LOGIN_NOT_CREATED, L"PLM_CGI_LOGIN_NOT_CREATED", L"a new login was refused: no safe session id or key"},
    {PLM_CGI_SSO_CHECK_FAILED, L"PLM_CGI_SSO_CHECK_FAILED", L"the single sign-on check failed"},
    {PLM_CGI_ERR_METHOD, L"PLM_CGI_ERR_METHOD", L"the request method is missing, or neither GET nor POST"},
    {PLM_CGI_ERR_CONTENT_TYPE, L"PLM_CGI_ERR_CONTENT_TYPE",
     L"a POST whose content type is neither multipart nor URL-encoded"},
    {PLM_NO_MORE_PARAMS, L"PLM_NO_MORE_PARAMS", L"no parameter is left"},
    {PLM_E_INVALID_ARG, L"PLM_E_INVALID_ARG", L"an argument is not one the call takes"},
    {PLM_E_BUFFER_TOO_SMALL, L"PLM_E_BUFFER_TOO_SMALL", L"the buffer is too small; the needed size was given"},
    {PLM_E_NO_MEMORY, L"PLM_E_NO_MEMORY", L"the library could not allocate memory"},
    {PLM_E_BAD_HANDLE, L"PLM_E_BAD_HANDLE", L"the handle is null, closed or of another kind"},
    {PLM_E_RESOURCE_DLL, L"PLM_E_RESOURCE_DLL", L"the resource DLL or its entry point cannot be used"},
    {PLM_E_WRITE, L"PLM_E_WRITE", L"standard output refused bytes"},
    {PLM_E_INTERNAL, L"PLM_E_INTERNAL", L"the library failed inside (see its trace)"},
};

int EnumParams(PLM_PARAM_CALLBACK callback, void* context) {
    if (!callback) return PLM_E_INVALID_ARG;
    if (CCgiParamList* list = ProcessParamList())
        list->EnumPairs([&](const wchar_t* name, const wchar_t* value) { callback(context, name, value); });
    return PLM_OK;
}

int EnumSpecialParams(const wchar_t* name, PLM_SPECIAL_PARAM_CALLBACK callback, void* context) {
    if (!callback || !name) return PLM_E_INVALID_ARG;
    if (CCgiParamList* list = ProcessParamList())
        list->EnumSpecialPairs(name, [&](const wchar_t* value) { callback(context, value); });
    return PLM_OK;
}

}  // namespace

size_t LiveCInterfaceHandles() {
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    return registry.handles.size() + registry.texts.size();
}

}  // namespace plm

using namespace plm;

extern "C" {

int __cdecl plm_FreeText(char* text) {
    return Fenced(L"plm_FreeText", [&] {
        if (!text) return PLM_OK;
        SRegistry& registry = Registry();
        {
            std::lock_guard<std::mutex> lock(registry.lock);
            if (registry.texts.erase(text) == 0) return PLM_E_BAD_HANDLE;
        }
        delete[] text;
        return PLM_OK;
    });
}

int __cdecl plm_Flush(void) {
    return Fenced(L"plm_Flush", [] { return WroteStatus(FlushOutput()); });
}

int __cdecl plm_GetVersion(int* pMajor, int* pMinor, const wchar_t** pLibraryVersion) {
    Preset(pMajor, 0);
    Preset(pMinor, 0);
    Preset(pLibraryVersion, static_cast<const wchar_t*>(L""));
    if (!pMajor || !pMinor) return PLM_E_INVALID_ARG;
    *pMajor = PLM_CAPI_VERSION_MAJOR;
    *pMinor = PLM_CAPI_VERSION_MINOR;
    if (pLibraryVersion) *pLibraryVersion = L"" WDX_VERSION_TEXT;
    return PLM_OK;
}

int __cdecl plm_StatusText(int status, const wchar_t** pName, const wchar_t** pMeaning) {
    for (const SStatusText& entry : kStatusTexts) {
        if (entry.status != status) continue;
        Preset(pName, entry.name);
        Preset(pMeaning, entry.meaning);
        return PLM_OK;
    }
    Preset(pName, static_cast<const wchar_t*>(L"unknown status"));
    Preset(pMeaning, static_cast<const wchar_t*>(L"unknown status"));
    return PLM_E_INVALID_ARG;
}

// ---- parameters ---------------------------------------------------------------------

int __cdecl plm_ParamsOpen(PLM_PARAMS** pParams) {
    return Fenced(L"plm_ParamsOpen", [&] {
        if (!pParams) return PLM_E_INVALID_ARG;
        *pParams = nullptr;
        return Publish(std::make_shared<PLM_PARAMS_>(), pParams);
    });
}

int __cdecl plm_ParamsDuplicate(PLM_PARAMS* params, PLM_PARAMS** pCopy) {
    return Fenced(L"plm_ParamsDuplicate", [&] { return Duplicate(params, pCopy); });
}

int __cdecl plm_ParamsClose(PLM_PARAMS* params) {
    return Fenced(L"plm_ParamsClose", [&] { return Close(params); });
}

int __cdecl plm_ParamsGetStatus(PLM_PARAMS* params, int* pStatus) {
    return FailedInto(OnHandle(L"plm_ParamsGetStatus", params,
                               [&](CGetParameter& value) { return StatusOut(value.GetErrorCode(), pStatus); }),
                      pStatus);
}

int __cdecl plm_ParamsGetValue(PLM_PARAMS* params, const wchar_t* name, const wchar_t* fallback, wchar_t* buffer,
                               size_t cchBuffer, size_t* pcchNeeded) {
    Preset(pcchNeeded, size_t(0));
    return OnHandle(L"plm_ParamsGetValue", params, [&](CGetParameter& value) {
        if (!name || !ValidBuffer(buffer, cchBuffer)) return PLM_E_INVALID_ARG;
        return CopyOut(value.GetValue(name, fallback), buffer, cchBuffer, pcchNeeded);
    });
}

int __cdecl plm_ParamsGetIntValue(PLM_PARAMS* params, const wchar_t* name, int fallback, int* pValue) {
    Preset(pValue, fallback);
    return OnHandle(L"plm_ParamsGetIntValue", params, [&](CGetParameter& value) {
        if (!name || !pValue) return PLM_E_INVALID_ARG;
        *pValue = value.GetIntValue(name, fallback);
        return PLM_OK;
    });
}

int __cdecl plm_ParamsNextPara(PLM_PARAMS* params, int reset, const wchar_t** pName, const wchar_t** pValue) {
    Preset(pName, static_cast<const wchar_t*>(nullptr));
    Preset(pValue, static_cast<const wchar_t*>(nullptr));
    return OnHandle(L"plm_ParamsNextPara", params, [&](CGetParameter& list) {
        if (!pName || !pValue) return PLM_E_INVALID_ARG;
        const wchar_t* name = nullptr;
        const wchar_t* value = nullptr;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(CursorLock());
            found = list.GetNextPara(name, value, reset != 0);
        }
        *pName = found ? name : nullptr;
        *pValue = found ? value : nullptr;
        return found ? PLM_OK : PLM_NO_MORE_PARAMS;
    });
}

int __cdecl plm_ParamsResetEnum(PLM_PARAMS* params) {
    return OnHandle(L"plm_ParamsResetEnum", params, [&](CGetParameter& value) {
        std::lock_guard<std::mutex> lock(CursorLock());
        value.ResetEnum();
        return PLM_OK;
    });
}

int __cdecl plm_ParamsGetTableHtml(PLM_PARAMS* params, char** ppText, size_t* pcbText) {
    Preset(ppText, static_cast<char*>(nullptr));
    Preset(pcbText, size_t(0));
    return OnHandle(L"plm_ParamsGetTableHtml", params, [&](CGetParameter& value) {
        return HandOutText([&] { return value.GetParaTableHtml(); }, ppText, pcbText);
    });
}

int __cdecl plm_ParamsEnum(PLM_PARAMS* params, PLM_PARAM_CALLBACK callback, void* context) {
    return OnHandle(L"plm_ParamsEnum", params, [&](CGetParameter&) { return EnumParams(callback, context); });
}

int __cdecl plm_ParamsEnumSpecial(PLM_PARAMS* params, const wchar_t* name, PLM_SPECIAL_PARAM_CALLBACK callback,
                                  void* context) {
    return OnHandle(L"plm_ParamsEnumSpecial", params,
                    [&](CGetParameter&) { return EnumSpecialParams(name, callback, context); });
}

// ---- console context ----------------------------------------------------------------

int __cdecl plm_ConsoleOpen(int contentKind, const wchar_t* downloadName, int loginMode, int withParams,
                            const wchar_t* resourcePrefix, const wchar_t* resourceModule, PLM_CONSOLE** pConsole) {
    return Fenced(L"plm_ConsoleOpen", [&] {
        if (!pConsole) return PLM_E_INVALID_ARG;
        *pConsole = nullptr;
        if (contentKind != PLM_CONTENT_HTML && contentKind != PLM_CONTENT_CSV) return PLM_E_INVALID_ARG;
        if (loginMode != PLM_LOGIN_VERIFY && loginMode != PLM_LOGIN_CREATE && loginMode != PLM_LOGIN_NONE)
            return PLM_E_INVALID_ARG;
        std::shared_ptr<PLM_CONSOLE_> object(new PLM_CONSOLE_{
            CConsoleCommon(contentKind, downloadName, loginMode, withParams != 0, resourcePrefix, resourceModule)});
        return Publish(std::move(object), pConsole);
    });
}

int __cdecl plm_ConsoleDuplicate(PLM_CONSOLE* console, PLM_CONSOLE** pCopy) {
    return Fenced(L"plm_ConsoleDuplicate", [&] { return Duplicate(console, pCopy); });
}

int __cdecl plm_ConsoleClose(PLM_CONSOLE* console) {
    return Fenced(L"plm_ConsoleClose", [&] { return Close(console); });
}

int __cdecl plm_ConsoleGetStatus(PLM_CONSOLE* console, int* pStatus) {
    return FailedInto(OnHandle(L"plm_ConsoleGetStatus", console,
                               [&](CConsoleCommon& value) { return StatusOut(value.GetErrorCode(), pStatus); }),
                      pStatus);
}

int __cdecl plm_ConsoleGetHeader(PLM_CONSOLE* console, char** ppText, size_t* pcbText) {
    Preset(ppText, static_cast<char*>(nullptr));
    Preset(pcbText, size_t(0));
    return OnHandle(L"plm_ConsoleGetHeader", console, [&](CConsoleCommon& value) {
        return HandOutText([&] { return value.GetHeader(); }, ppText, pcbText);
    });
}

int __cdecl plm_ConsoleWriteHeader(PLM_CONSOLE* console) {
    return OnHandle(L"plm_ConsoleWriteHeader", console, [&](CConsoleCommon& value) {
        const std::string header = value.GetHeader();
        return WroteStatus(OutputBinary(header.data(), header.size()));
    });
}

int __cdecl plm_ConsoleLoadResString(PLM_CONSOLE* console, int id, wchar_t* buffer, size_t cchBuffer,
                                     size_t* pcchNeeded) {
    Preset(pcchNeeded, size_t(0));
    return OnHandle(L"plm_ConsoleLoadResString", console, [&](CConsoleCommon& value) {
        if (!ValidBuffer(buffer, cchBuffer)) return PLM_E_INVALID_ARG;
        return CopyOut(value.LoadResString(id), buffer, cchBuffer, pcchNeeded);
    });
}

int __cdecl plm_ConsoleEnumParams(PLM_CONSOLE* console, PLM_PARAM_CALLBACK callback, void* context) {
    return OnHandle(L"plm_ConsoleEnumParams", console, [&](CConsoleCommon&) { return EnumParams(callback, context); });
}

int __cdecl plm_ConsoleEnumSpecialParams(PLM_CONSOLE* console, const wchar_t* name, PLM_SPECIAL_PARAM_CALLBACK callback,
                                         void* context) {
    return OnHandle(L"plm_ConsoleEnumSpecialParams", console,
                    [&](CConsoleCommon&) { return EnumSpecialParams(name, callback, context); });
}

// ---- output stream ------------------------------------------------------------------

int __cdecl plm_StreamOpen(int writeHeader, PLM_STREAM** pStream) {
    return Fenced(L"plm_StreamOpen", [&] {
        if (!pStream) return PLM_E_INVALID_ARG;
        *pStream = nullptr;
        return Publish(std::shared_ptr<PLM_STREAM_>(new PLM_STREAM_{CPutStream(writeHeader != 0)}), pStream);
    });
}

int __cdecl plm_StreamDuplicate(PLM_STREAM* stream, PLM_STREAM** pCopy) {
    return Fenced(L"plm_StreamDuplicate", [&] { return Duplicate(stream, pCopy); });
}

int __cdecl plm_StreamClose(PLM_STREAM* stream) {
    return Fenced(L"plm_StreamClose", [&] { return Close(stream); });
}

// The stream's writes all go to the C runtime's stdout; the handle is only checked.
int __cdecl plm_StreamWriteText(PLM_STREAM* stream, const wchar_t* text) {
    return OnHandle(L"plm_StreamWriteText", stream, [&](CPutStream&) {
        return text ? WroteStatus(OutputText(WideToUtf8(text, wcslen(text)))) : PLM_OK;
    });
}

int __cdecl plm_StreamWriteAnsi(PLM_STREAM* stream, const char* text) {
    return OnHandle(L"plm_StreamWriteAnsi", stream, [&](CPutStream&) {
        return text ? WroteStatus(OutputText(WideToUtf8(MBWC::AnsiToWide(text)))) : PLM_OK;
    });
}

int __cdecl plm_StreamWriteInt(PLM_STREAM* stream, int value) {
    return OnHandle(L"plm_StreamWriteInt", stream,
                    [&](CPutStream&) { return WroteStatus(OutputText(std::to_string(value))); });
}

int __cdecl plm_StreamWriteBinary(PLM_STREAM* stream, const void* data, size_t cbData) {
    return OnHandle(L"plm_StreamWriteBinary", stream, [&](CPutStream&) {
        if (cbData == 0) return PLM_OK;
        if (!data || reinterpret_cast<uintptr_t>(data) > UINTPTR_MAX - cbData) return PLM_E_INVALID_ARG;
        return WroteStatus(OutputBinary(data, cbData));
    });
}

// ---- resource loader ----------------------------------------------------------------

int __cdecl plm_ResourcesOpen(const wchar_t* prefix, const wchar_t* moduleName, PLM_RESOURCES** pResources) {
    return Fenced(L"plm_ResourcesOpen", [&] {
        if (!pResources) return PLM_E_INVALID_ARG;
        *pResources = nullptr;
        return Publish(std::shared_ptr<PLM_RESOURCES_>(new PLM_RESOURCES_{CResourceLoader(prefix, moduleName)}),
                       pResources);
    });
}

int __cdecl plm_ResourcesDuplicate(PLM_RESOURCES* resources, PLM_RESOURCES** pCopy) {
    return Fenced(L"plm_ResourcesDuplicate", [&] { return Duplicate(resources, pCopy); });
}

int __cdecl plm_ResourcesClose(PLM_RESOURCES* resources) {
    return Fenced(L"plm_ResourcesClose", [&] { return Close(resources); });
}

int __cdecl plm_ResourcesGetString(PLM_RESOURCES* resources, int id, wchar_t* buffer, size_t cchBuffer,
                                   size_t* pcchNeeded) {
    Preset(pcchNeeded, size_t(0));
    return OnHandle(L"plm_ResourcesGetString", resources, [&](CResourceLoader& value) {
        if (!ValidBuffer(buffer, cchBuffer)) return PLM_E_INVALID_ARG;
        return CopyOut(value.GetString(id), buffer, cchBuffer, pcchNeeded);
    });
}

}  // extern "C"
