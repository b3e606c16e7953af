// Web-console classes of WDXPatchAgent.dll for the console's CGI programs.
//
// ABI: the classes are exported as C++ class members (constructors, assignments,
// stream operators, virtual tables, enumeration functions) with GCC (Itanium)
// mangled names. That is this build's ABI: a console program must be built with
// the same mingw-w64 GCC and link the import library WDXPatchAgent.dll.a. The
// strings returned by value share the C runtime heap (msvcrt.dll) with the DLL.
//
// Output: the response header and CPutStream write through the C runtime's
// standard output stream (msvcrt.dll's stdout), the stream this program's own
// printf, puts and fwrite(stdout) use too, so all of them leave in the order they
// were called; the C interface of plm_ConsoleC.h writes through the same stream.
// Write the header (CConsoleCommon::WriteHeader) before the body.
//
// The C interface (plm_ConsoleC.h) is the contract: its numbers are the ones
// below. plm_ConsoleCpp.h declares the same classes as inline code over it; a
// source file includes one of the two, and a program that mixes them in two
// files fails to link wherever one hands the other an object.
#pragma once
#include <string>

#include "plm_ConsoleC.h"

#ifdef PLM_CONSOLE_CPP_LAYER
#error "plm_Console.h and plm_ConsoleCpp.h declare the same classes: include one of them"
#endif
#define PLM_CONSOLE_EXPORTED_CLASSES

#if defined(WDX_BUILDING_LIBRARY)
#define PLM_API __declspec(dllexport)
#elif defined(WDX_LINK_STATIC)
#define PLM_API
#else
#define PLM_API __declspec(dllimport)
#endif

namespace plm {

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
    CGI_LOGIN_NOT_CREATED = PLM_CGI_LOGIN_NOT_CREATED,  // a new login was refused: no safe session id or key
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

// The request's parameters. An empty class: every instance works on the one
// process-wide list, parsed when the first instance is built.
class PLM_API CGetParameter {
public:
    CGetParameter();
    CGetParameter& operator=(const CGetParameter&);

    int GetErrorCode();
    // First value whose name matches without regard to case; the empty string or
    // fallback when none does.
    const std::wstring GetValue(const wchar_t* name);
    const std::wstring GetValue(const wchar_t* name, const wchar_t* fallback);
    int GetIntValue(const wchar_t* name, int fallback);
    // Hands out the pair at the cursor (pointers into the list, valid for the
    // process) and advances; false with value null when no pair is left.
    bool GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset);
    void ResetEnum();
    // The parameters as an HTML table (UTF-8, names and values escaped).
    std::string GetParaTableHtml();
    void EnumParaCallBack(PARA_CALLBACK callback);
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback);
};

class CConsoleCommonImpl;

// One per request: decides the login state, prepares the response header, loads
// the resource DLL and reads the parameters.
class PLM_API CConsoleCommon {
public:
    // contentKind 1: "text/x-csv", else "text/html". loginMode 0: verify the login
    // and refresh its cookies; 1: create a new login; 2: neither. Throws a pointer
    // to a new CResourceLoaderException when the resource DLL cannot be used.
    explicit CConsoleCommon(int contentKind = 0, const wchar_t* downloadName = nullptr, int loginMode = 0,
                            bool withParams = true, const wchar_t* resourcePrefix = nullptr,
                            const wchar_t* resourceModule = nullptr);
    CConsoleCommon(const CConsoleCommon& other);
    CConsoleCommon& operator=(const CConsoleCommon& other);
    ~CConsoleCommon();

    void EnumParaCallBack(PARA_CALLBACK callback);
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback);

    // 3900 or the code of the login check, the request parsing or the SSO check.
    int GetErrorCode() const;
    // The complete response header, ending with its empty line.
    std::string GetHeader() const;
    // Writes the header to standard output in binary mode (each line ends in CR LF).
    void WriteHeader() const;
    // A text of the console's resource DLL; empty when it has none.
    std::wstring LoadResString(int id) const;

private:
    CConsoleCommonImpl* m_pImpl;
};

class CPutStreamImpl;

// UTF-8 output on standard output (LF as CR LF; WriteBinary as it is).
class PLM_API CPutStream {
public:
    explicit CPutStream(bool writeHeader = false);
    CPutStream(const CPutStream& other);
    CPutStream& operator=(const CPutStream& other);
    ~CPutStream();

    CPutStream& operator<<(const wchar_t* text);
    CPutStream& operator<<(const char* text);  // ANSI code page text
    CPutStream& operator<<(int value);
    void WriteBinary(const void* data, int length);

private:
    CPutStreamImpl* m_pImpl;
};

class PLM_API CResourceLoaderException {};

// The console's resource-string DLL (module "CGIResUTF8" unless named) and its
// entry point "cgi_GetResourceString":
//   extern "C" int __cdecl cgi_GetResourceString(const wchar_t* language, int id,
//                                                wchar_t* buffer, int cchBuffer);
// which copies the text (terminated, cut to fit) and returns its length, or 0.
class PLM_API CResourceLoader {
public:
    explicit CResourceLoader(const wchar_t* prefix = nullptr, const wchar_t* moduleName = nullptr);
    CResourceLoader(const CResourceLoader& other);
    CResourceLoader& operator=(const CResourceLoader& other);
    ~CResourceLoader();

    // The text for id in the request's language (HTTP_ACCEPT_LANGUAGE, English
    // when none is offered); empty when the DLL has none.
    std::wstring GetString(int id) const;

private:
    void* m_hModule;
    void* m_pfnGetResourceString;
    wchar_t m_language[16];  // lookup state of our own: the request's language
};

class CHtmlImpl;

// Shells around HTML control objects. Copies share the implementation object,
// which the last owner releases.
class PLM_API CHtmlTable {
public:
    CHtmlTable();
    CHtmlTable(const CHtmlTable& other);
    CHtmlTable& operator=(const CHtmlTable& other);
    virtual ~CHtmlTable();

private:
    CHtmlImpl* m_pImpl;
};

#define PLM_HTML_SHELL(Name)                \
    class PLM_API Name {                    \
    public:                                 \
        Name(const Name& other);            \
        Name& operator=(const Name& other); \
        virtual ~Name();                    \
                                            \
    private:                                \
        CHtmlImpl* m_pImpl;                 \
    };
PLM_HTML_SHELL(CHtmlCheckbox)
PLM_HTML_SHELL(CHtmlRadioButton)
PLM_HTML_SHELL(CHtmlLink)
PLM_HTML_SHELL(CHtmlHidden)
#undef PLM_HTML_SHELL

}  // namespace plm
