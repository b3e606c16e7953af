// Header-only C++ layer of the web console over its C interface (plm_ConsoleC.h):
// the classes of plm_Console.h with the same names, members and meanings, for
// console programs whose compiler or standard library is not the DLL's. It is
// standard C++17 over the C interface and nothing else. Checked here: built and
// tested with mingw-w64 GCC, and compiled by clang for the same target; MSVC and
// clang-cl with Microsoft's standard library are meant to take it, but no build
// here checks them.
//
// Include either this header or plm_Console.h, never both: they declare the
// same classes (a file that includes both does not compile). The classes here
// live in an inline namespace of their own, so a program that uses one header
// in one file and the other in another fails to link where the files hand each
// other an object, instead of mixing two layouts. Everything here is inline code
// of the program itself; only the C functions of the DLL are called, so the
// strings live in the program's own runtime and no C++ object crosses the DLL
// boundary. A resource DLL that cannot be used reaches the program as a thrown
// CResourceLoaderException* (delete it), raised here; an exception thrown by an
// enumeration callback is carried past the DLL and thrown again here once the
// enumeration returns. A console context the C interface refuses (another
// contentKind or loginMode) throws nothing: GetErrorCode() gives the status.
//
// Output: CPutStream and CConsoleCommon::WriteHeader write through the DLL's C
// runtime stream (see plm_ConsoleC.h). A program whose runtime is not msvcrt.dll
// flushes its own (fflush(stdout), std::cout.flush()) before writing through
// these, and calls plm_Flush() before printing through its runtime again.
#pragma once
#include <cstddef>
#include <exception>
#include <new>
#include <string>

#include "plm_ConsoleC.h"

#ifdef PLM_CONSOLE_EXPORTED_CLASSES
#error "plm_Console.h and plm_ConsoleCpp.h declare the same classes: include one of them"
#endif
#define PLM_CONSOLE_CPP_LAYER

namespace plm {
inline namespace cpp_layer {

// Status codes of request parsing and login checks (one numbering).
enum {
    CGI_OK = PLM_OK,
    CGI_ERR_BINARY_MODE = PLM_CGI_ERR_BINARY_MODE,
    CGI_ERR_UPLOAD_TOO_LARGE = PLM_CGI_ERR_UPLOAD_TOO_LARGE,
    CGI_ERR_NO_TEMP_NAME = PLM_CGI_ERR_NO_TEMP_NAME,
    CGI_LOGIN_KEY_MISMATCH = PLM_CGI_LOGIN_KEY_MISMATCH,
    CGI_LOGIN_EXPIRED = PLM_CGI_LOGIN_EXPIRED,
    CGI_LOGIN_NO_COOKIE = PLM_CGI_LOGIN_NO_COOKIE,
    CGI_LOGIN_NO_KEY_FILE = PLM_CGI_LOGIN_NO_KEY_FILE,
    CGI_ERR_NO_PARAM_LIST = PLM_CGI_ERR_NO_PARAM_LIST,
    CGI_LOGIN_NOT_CREATED = PLM_CGI_LOGIN_NOT_CREATED,
    CGI_SSO_CHECK_FAILED = PLM_CGI_SSO_CHECK_FAILED,
    CGI_ERR_METHOD = PLM_CGI_ERR_METHOD,
    CGI_ERR_CONTENT_TYPE = PLM_CGI_ERR_CONTENT_TYPE
};

// Console kinds (from the executable's folder).
enum {
    CONSOLE_KIND_SERVER = PLM_CONSOLE_KIND_SERVER,
    CONSOLE_KIND_VOK = PLM_CONSOLE_KIND_VOK,
    CONSOLE_KIND_TREL = PLM_CONSOLE_KIND_TREL,
    CONSOLE_KIND_HUBC = PLM_CONSOLE_KIND_HUBC
};

// Enumeration callbacks; their results are not examined.
typedef bool* (*PARA_CALLBACK)(const wchar_t* name, const wchar_t* value);
typedef bool* (*SPECIAL_PARA_CALLBACK)(const wchar_t* value);

class CResourceLoaderException {};

namespace cdetail {

// A wide text through the C interface's caller buffer: asked for its size, then
// fetched, again while it grows in between. Empty on any failure.
template <typename Fetch>
std::wstring WideText(Fetch fetch) {
    size_t cchNeeded = 0;
    int status = fetch(nullptr, 0, &cchNeeded);
    std::wstring text;
    for (int tries = 0; status == PLM_E_BUFFER_TOO_SMALL && cchNeeded > 0 && tries < 4; ++tries) {
        text.resize(cchNeeded);
        status = fetch(&text[0], text.size(), &cchNeeded);
    }
    if (status != PLM_OK || cchNeeded == 0) return std::wstring();
    text.resize(cchNeeded - 1);
    return text;
}

// A library-owned UTF-8 text copied into this program's runtime and released.
inline std::string TakeText(int status, char* text, size_t cbText) {
    if (status != PLM_OK || !text) return std::string();
    std::string copy;
    try {
        copy.assign(text, cbText);
    } catch (...) {
        plm_FreeText(text);
        throw;
    }
    plm_FreeText(text);
    return copy;
}

// Failures the classes report by throwing.
inline void ThrowOnFailure(int status) {
    if (status == PLM_E_RESOURCE_DLL) throw new CResourceLoaderException;
    if (status == PLM_E_NO_MEMORY) throw std::bad_alloc();
}

// The page's callback behind the C interface's: an exception stops further
// calls and waits on this side of the DLL.
struct SParaCall {
    PARA_CALLBACK callback;
    std::exception_ptr error;
    static void PLM_CALL Visit(void* context, const wchar_t* name, const wchar_t* value) {
        SParaCall* call = static_cast<SParaCall*>(context);
        if (call->error) return;
        try {
            call->callback(name, value);
        } catch (...) {
            call->error = std::current_exception();
        }
    }
};
struct SSpecialCall {
    SPECIAL_PARA_CALLBACK callback;
    std::exception_ptr error;
    static void PLM_CALL Visit(void* context, const wchar_t* value) {
        SSpecialCall* call = static_cast<SSpecialCall*>(context);
        if (call->error) return;
        try {
            call->callback(value);
        } catch (...) {
            call->error = std::current_exception();
        }
    }
};

template <typename Handle>
inline void EnumPara(int(PLM_CALL* enumerate)(Handle*, PLM_PARAM_CALLBACK, void*), Handle* handle,
                     PARA_CALLBACK callback) {
    if (!callback) return;
    SParaCall call = {callback, nullptr};
    enumerate(handle, &SParaCall::Visit, &call);
    if (call.error) std::rethrow_exception(call.error);
}

template <typename Handle>
inline void EnumSpecial(int(PLM_CALL* enumerate)(Handle*, const wchar_t*, PLM_SPECIAL_PARAM_CALLBACK, void*),
                        Handle* handle, const wchar_t* name, SPECIAL_PARA_CALLBACK callback) {
    if (!callback || !name) return;
    SSpecialCall call = {callback, nullptr};
    enumerate(handle, name, &SSpecialCall::Visit, &call);
    if (call.error) std::rethrow_exception(call.error);
}

// A second handle on what handle stands for; null stays null.
template <typename Handle>
inline Handle* Share(int(PLM_CALL* duplicate)(Handle*, Handle**), Handle* handle) {
    Handle* copy = nullptr;
    if (handle) ThrowOnFailure(duplicate(handle, &copy));
    return copy;
}

// A handle of the C interface owned by one object: a copy holds a handle of its
// own on the same thing (null stays null), each closed with its owner.
template <typename Handle, int(PLM_CALL* Duplicate)(Handle*, Handle**), int(PLM_CALL* Close)(Handle*)>
class SharedHandle {
public:
    SharedHandle() = default;
    SharedHandle(const SharedHandle& other) : m_handle(Share(Duplicate, other.m_handle)) {}
    SharedHandle& operator=(const SharedHandle& other) {
        Handle* copy = Share(Duplicate, other.m_handle);
        Close(m_handle);
        m_handle = copy;
        return *this;
    }
    ~SharedHandle() { Close(m_handle); }

    Handle* get() const { return m_handle; }
    Handle** out() { return &m_handle; }  // for the Open call, on an empty one only

private:
    Handle* m_handle = nullptr;
};

}  // namespace cdetail

// The request's parameters. Every instance works on the one process-wide list,
// parsed when the first instance (or context with parameters) is built.
class CGetParameter {
public:
    CGetParameter() { cdetail::ThrowOnFailure(plm_ParamsOpen(m_handle.out())); }
    CGetParameter(const CGetParameter& other) = default;
    CGetParameter& operator=(const CGetParameter&) { return *this; }  // both are views of the one list

    int GetErrorCode() {
        int status = CGI_ERR_NO_PARAM_LIST;
        return plm_ParamsGetStatus(m_handle.get(), &status) == PLM_OK ? status : CGI_ERR_NO_PARAM_LIST;
    }
    // First value whose name matches without regard to case; the empty string or
    // fallback when none does.
    const std::wstring GetValue(const wchar_t* name) { return GetValue(name, L""); }
    const std::wstring GetValue(const wchar_t* name, const wchar_t* fallback) {
        if (!name) return fallback ? fallback : L"";
        return cdetail::WideText([&](wchar_t* buffer, size_t cch, size_t* pcchNeeded) {
            return plm_ParamsGetValue(m_handle.get(), name, fallback, buffer, cch, pcchNeeded);
        });
    }
    int GetIntValue(const wchar_t* name, int fallback) {
        int value = fallback;
        return name && plm_ParamsGetIntValue(m_handle.get(), name, fallback, &value) == PLM_OK ? value : fallback;
    }
    // Hands out the pair at the cursor (pointers into the list, valid for the
    // process) and advances; false with value null when no pair is left.
    bool GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset) {
        const wchar_t* foundName = nullptr;
        const wchar_t* foundValue = nullptr;
        if (plm_ParamsNextPara(m_handle.get(), reset ? 1 : 0, &foundName, &foundValue) != PLM_OK) {
            value = nullptr;
            return false;
        }
        name = foundName;
        value = foundValue;
        return true;
    }
    void ResetEnum() { plm_ParamsResetEnum(m_handle.get()); }
    // The parameters as an HTML table (UTF-8, names and values escaped).
    std::string GetParaTableHtml() {
        char* text = nullptr;
        size_t cbText = 0;
        const int status = plm_ParamsGetTableHtml(m_handle.get(), &text, &cbText);
        return cdetail::TakeText(status, text, cbText);
    }
    void EnumParaCallBack(PARA_CALLBACK callback) { cdetail::EnumPara(plm_ParamsEnum, m_handle.get(), callback); }
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback) {
        cdetail::EnumSpecial(plm_ParamsEnumSpecial, m_handle.get(), name, callback);
    }

private:
    cdetail::SharedHandle<PLM_PARAMS, plm_ParamsDuplicate, plm_ParamsClose> m_handle;
};

// One per request: decides the login state, prepares the response header, loads
// the resource DLL and reads the parameters.
class CConsoleCommon {
public:
    // contentKind 1: "text/x-csv", else "text/html". loginMode 0: verify the login
    // and refresh its cookies; 1: create a new login; 2: neither. Throws a pointer
    // to a new CResourceLoaderException when the resource DLL cannot be used.
    explicit CConsoleCommon(int contentKind = 0, const wchar_t* downloadName = nullptr, int loginMode = 0,
                            bool withParams = true, const wchar_t* resourcePrefix = nullptr,
                            const wchar_t* resourceModule = nullptr) {
        m_status = plm_ConsoleOpen(contentKind, downloadName, loginMode, withParams ? 1 : 0, resourcePrefix,
                                   resourceModule, m_handle.out());
        cdetail::ThrowOnFailure(m_status);
    }
    void EnumParaCallBack(PARA_CALLBACK callback) {
        cdetail::EnumPara(plm_ConsoleEnumParams, m_handle.get(), callback);
    }
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback) {
        cdetail::EnumSpecial(plm_ConsoleEnumSpecialParams, m_handle.get(), name, callback);
    }

    // 3900 or the code of the login check, the request parsing or the SSO check;
    // the C interface's status when the context could not be made at all.
    int GetErrorCode() const {
        int status = m_status;
        return plm_ConsoleGetStatus(m_handle.get(), &status) == PLM_OK ? status : m_status;
    }
    // The complete response header, ending with its empty line.
    std::string GetHeader() const {
        char* text = nullptr;
        size_t cbText = 0;
        const int status = plm_ConsoleGetHeader(m_handle.get(), &text, &cbText);
        return cdetail::TakeText(status, text, cbText);
    }
    // Writes the header to standard output as it is (each line ends in CR LF).
    void WriteHeader() const { plm_ConsoleWriteHeader(m_handle.get()); }
    // A text of the console's resource DLL; empty when it has none.
    std::wstring LoadResString(int id) const {
        return cdetail::WideText([&](wchar_t* buffer, size_t cch, size_t* pcchNeeded) {
            return plm_ConsoleLoadResString(m_handle.get(), id, buffer, cch, pcchNeeded);
        });
    }

private:
    cdetail::SharedHandle<PLM_CONSOLE, plm_ConsoleDuplicate, plm_ConsoleClose> m_handle;  // copies share the context
    int m_status = PLM_OK;
};

// UTF-8 output on standard output.
class CPutStream {
public:
    explicit CPutStream(bool writeHeader = false) {
        cdetail::ThrowOnFailure(plm_StreamOpen(writeHeader ? 1 : 0, m_handle.out()));
    }

    CPutStream& operator<<(const wchar_t* text) {
        plm_StreamWriteText(m_handle.get(), text);
        return *this;
    }
    CPutStream& operator<<(const char* text) {  // ANSI code page text
        plm_StreamWriteAnsi(m_handle.get(), text);
        return *this;
    }
    CPutStream& operator<<(int value) {
        plm_StreamWriteInt(m_handle.get(), value);
        return *this;
    }
    void WriteBinary(const void* data, int length) {
        if (data && length > 0) plm_StreamWriteBinary(m_handle.get(), data, static_cast<size_t>(length));
    }

private:
    cdetail::SharedHandle<PLM_STREAM, plm_StreamDuplicate, plm_StreamClose> m_handle;
};

// The console's resource-string DLL (module "CGIResUTF8" unless named).
class CResourceLoader {
public:
    explicit CResourceLoader(const wchar_t* prefix = nullptr, const wchar_t* moduleName = nullptr) {
        cdetail::ThrowOnFailure(plm_ResourcesOpen(prefix, moduleName, m_handle.out()));
    }

    // The text for id in the request's language (HTTP_ACCEPT_LANGUAGE, English
    // when none is offered); empty when the DLL has none.
    std::wstring GetString(int id) const {
        return cdetail::WideText([&](wchar_t* buffer, size_t cch, size_t* pcchNeeded) {
            return plm_ResourcesGetString(m_handle.get(), id, buffer, cch, pcchNeeded);
        });
    }

private:
    cdetail::SharedHandle<PLM_RESOURCES, plm_ResourcesDuplicate, plm_ResourcesClose> m_handle;
};

// The HTML control shells, which render nothing: kept so that code naming
// them compiles against either header.
class CHtmlTable {
public:
    CHtmlTable() = default;
    CHtmlTable(const CHtmlTable&) = default;
    CHtmlTable& operator=(const CHtmlTable&) = default;
    virtual ~CHtmlTable() = default;
};

#define PLM_HTML_SHELL(Name)                    \
    class Name {                                \
    public:                                     \
        Name(const Name&) = default;            \
        Name& operator=(const Name&) = default; \
        virtual ~Name() = default;              \
    };
PLM_HTML_SHELL(CHtmlCheckbox)
PLM_HTML_SHELL(CHtmlRadioButton)
PLM_HTML_SHELL(CHtmlLink)
PLM_HTML_SHELL(CHtmlHidden)
#undef PLM_HTML_SHELL

}  // namespace cpp_layer
}  // namespace plm
