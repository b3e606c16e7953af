/* C interface of the web-console library in WDXPatchAgent.dll, for console CGI
 * programs built with any compiler and C runtime, in C or C++. It is the
 * library's contract: the C++ faces (plm_Console.h, plm_ConsoleCpp.h) take their
 * numbers from here. Checked here: mingw-w64 GCC (C99 and C++), and clang in
 * Microsoft's mode (freestanding, linked by lld-link against WDXPatchAgent.lib).
 *
 * ABI: plain C functions, cdecl, exported by their plain names (no decoration on
 * either bitness). Only pointers, integers and wchar_t cross: no C++ type, no
 * exception, no C runtime object (FILE*, a heap block of the caller's runtime).
 * Needs only <stddef.h> and <stdint.h>, so a freestanding build can use it.
 *
 * Status: every function returns an int status, PLM_OK (3900) on success. The
 * 3900 family of the request parsing and login checks is reported as out values
 * (plm_ParamsGetStatus, plm_ConsoleGetStatus); the statuses of the calls
 * themselves are PLM_OK, PLM_NO_MORE_PARAMS and the PLM_E_* codes below. No
 * function lets a failure escape in any other way.
 *
 * Out values: every non-null out pointer is written on failure too (a bad
 * handle, an invalid argument, any other failure): handles, texts and names
 * null, sizes 0, a status out value the call's own failing status (never
 * PLM_OK), plm_ParamsGetIntValue's value its fallback.
 *
 * Handles: opaque, made by an ...Open or ...Duplicate function and released by
 * the matching ...Close exactly once. A handle that is null, already closed or
 * of another kind gives PLM_E_BAD_HANDLE and nothing else happens (but for the
 * out values, written as above).
 *
 * Strings out:
 *  - wide texts through a caller buffer: (buffer, cchBuffer, pcchNeeded). The
 *    call stores in *pcchNeeded (when not null) the characters the whole text
 *    needs, terminator included. A null buffer goes with cchBuffer 0. When buffer is null or cchBuffer is smaller, it
 *    returns PLM_E_BUFFER_TOO_SMALL and writes an empty text into a non-null
 *    buffer of at least one character; call again with that size. Any other
 *    failure leaves the buffer as it was and *pcchNeeded 0.
 *  - UTF-8 texts (the response header, the parameter table) as one block
 *    allocated by the library: *ppText is terminated, *pcbText counts its bytes
 *    without the terminator. Release it with plm_FreeText (a second release, or
 *    a pointer the library did not hand out, gives PLM_E_BAD_HANDLE).
 *  - names and values handed out by plm_ParamsNextPara and the enumeration
 *    callbacks point into the library's parameter list and stay valid until the
 *    process ends; the caller never frees them.
 *
 * Output: the stream functions and plm_ConsoleWriteHeader write through the
 * standard output stream of the DLL's C runtime (msvcrt.dll's stdout), the one
 * the C++ classes of plm_Console.h use and a program built with the mingw-w64
 * GCC prints to with printf, so none of them reorders another. Text goes out in
 * the stream's mode (text mode unless the program changed it: each LF as CR LF);
 * the header and binary writes flush the stream, write their bytes as they are
 * in binary mode, flush again and restore the mode. plm_Flush flushes the stream.
 * A program with a C runtime of its own (MSVC's, the UCRT) keeps the order by
 * flushing its runtime (fflush(stdout)) before it calls the library and by
 * calling plm_Flush before it prints itself; one without a C runtime, or one
 * that ends with ExitProcess, calls plm_Flush before it ends. The response
 * header is written first (plm_ConsoleWriteHeader or a stream opened with
 * writeHeader), before any body text.
 *
 * Threads: a CGI program serves one request, and the calls are made for that.
 * Handles may be made, used, duplicated and closed on any thread, also at once:
 * the library's table of live handles and texts is locked, and a close never
 * frees an object a call on another thread is still using. The request is
 * parsed once, by whichever call comes first. The parameter cursor
 * (plm_ParamsNextPara, plm_ParamsResetEnum) is one per process, shared by every
 * handle: each call on it is atomic (it is locked), but two threads walking the
 * list at once each see only some of the pairs, so walk it from one thread, or
 * use plm_ParamsEnum, which keeps no cursor. Open the console context (which
 * may create a login and its key files) and write the response from one thread:
 * output calls do not interleave within a call, but a header written while
 * another thread writes body text may land after it.
 *
 * Versions: PLM_CAPI_VERSION_MAJOR/MINOR are the interface this header declares;
 * plm_GetVersion tells the interface of the DLL a program runs against. The
 * interface only grows: a new function, status or constant raises the minor
 * version; no function is removed, renamed or given other parameters, and no
 * number changes its meaning, so a program built against minor N runs against
 * any DLL of the same major version whose minor is N or higher. A program that
 * calls a function added in a later minor checks plm_GetVersion first (or finds
 * the function with GetProcAddress).
 *
 * Each function's "Returns" line lists the statuses it can give besides PLM_OK.
 * Every function on a handle can give PLM_E_BAD_HANDLE, and every function can
 * give PLM_E_NO_MEMORY and PLM_E_INTERNAL; the lines leave these three out.
 */
#ifndef PLM_CONSOLEC_H
#define PLM_CONSOLEC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(WDX_BUILDING_LIBRARY) || defined(WDX_LINK_STATIC)
#define PLM_CAPI
#else
#define PLM_CAPI __declspec(dllimport)
#endif
#define PLM_CALL __cdecl

/* ---- Version ----------------------------------------------------------------------- */

#define PLM_CAPI_VERSION_MAJOR 1
#define PLM_CAPI_VERSION_MINOR 0 /* 1.0: the first release of this interface */

/* ---- Statuses ---------------------------------------------------------------------- */

/* Results of request parsing and login checks (the same numbers as plm::CGI_*). */
#define PLM_OK 3900
#define PLM_CGI_ERR_BINARY_MODE 3901
#define PLM_CGI_ERR_UPLOAD_TOO_LARGE 3902
#define PLM_CGI_ERR_NO_TEMP_NAME 3903
#define PLM_CGI_LOGIN_KEY_MISMATCH 3904
#define PLM_CGI_LOGIN_EXPIRED 3905
#define PLM_CGI_LOGIN_NO_COOKIE 3906
#define PLM_CGI_LOGIN_NO_KEY_FILE 3907
#define PLM_CGI_ERR_NO_PARAM_LIST 3908
#define PLM_CGI_LOGIN_NOT_CREATED 3909
#define PLM_CGI_SSO_CHECK_FAILED 3910
#define PLM_CGI_ERR_METHOD 4000
#define PLM_CGI_ERR_CONTENT_TYPE 4001

/* Results of the calls themselves. */
#define PLM_NO_MORE_PARAMS 3950     /* plm_ParamsNextPara: no pair left (not a failure) */
#define PLM_E_INVALID_ARG 3951      /* a null out pointer, name or callback, or a size that wraps */
#define PLM_E_BUFFER_TOO_SMALL 3952 /* *pcchNeeded says how many characters to offer */
#define PLM_E_NO_MEMORY 3953        /* the library could not allocate */
#define PLM_E_BAD_HANDLE 3954       /* null, closed, foreign or of another kind; also a second plm_FreeText */
#define PLM_E_RESOURCE_DLL 3955     /* the resource DLL or its entry point cannot be used */
#define PLM_E_WRITE 3956            /* standard output refused bytes */
#define PLM_E_INTERNAL 3957         /* any other failure inside the library (traced) */

/* What plm_ConsoleOpen's contentKind and loginMode take; other values are refused. */
#define PLM_CONTENT_HTML 0 /* "text/html" */
#define PLM_CONTENT_CSV 1  /* "text/x-csv", a download (downloadName names the file) */
#define PLM_LOGIN_VERIFY 0 /* verify the login and refresh its cookies */
#define PLM_LOGIN_CREATE 1 /* create a new login */
#define PLM_LOGIN_NONE 2   /* neither (pages that need no login) */

/* Console kinds (from the executable's folder). */
#define PLM_CONSOLE_KIND_SERVER 6
#define PLM_CONSOLE_KIND_VOK 88
#define PLM_CONSOLE_KIND_TREL 108
#define PLM_CONSOLE_KIND_HUBC 109

/* ---- Handles and callbacks ---------------------------------------------------------- */

typedef struct PLM_PARAMS_ PLM_PARAMS;       /* the request's parameters */
typedef struct PLM_CONSOLE_ PLM_CONSOLE;     /* a console context */
typedef struct PLM_STREAM_ PLM_STREAM;       /* UTF-8 output on standard output */
typedef struct PLM_RESOURCES_ PLM_RESOURCES; /* the console's resource-string DLL */

/* Enumeration callbacks: context is the caller's own pointer, passed through. */
typedef void(PLM_CALL* PLM_PARAM_CALLBACK)(void* context, const wchar_t* name, const wchar_t* value);
typedef void(PLM_CALL* PLM_SPECIAL_PARAM_CALLBACK)(void* context, const wchar_t* value);

/* ---- Library-wide ------------------------------------------------------------------- */

/* Releases a block that plm_ParamsGetTableHtml or plm_ConsoleGetHeader handed out.
 * Null is accepted and does nothing (PLM_OK).
 * Returns: PLM_E_BAD_HANDLE (a block not handed out, or released before). */
PLM_CAPI int PLM_CALL plm_FreeText(char* text);
/* Flushes the standard output stream the library writes through.
 * Returns: PLM_E_WRITE. */
PLM_CAPI int PLM_CALL plm_Flush(void);
/* The interface version of the DLL (compare with PLM_CAPI_VERSION_MAJOR/MINOR)
 * and, when pLibraryVersion is not null, the DLL's release version as a text
 * ("major.minor.patch.build"; static, never freed).
 * Returns: PLM_E_INVALID_ARG (pMajor or pMinor null). */
PLM_CAPI int PLM_CALL plm_GetVersion(int* pMajor, int* pMinor, const wchar_t** pLibraryVersion);
/* The name of a status (L"PLM_E_BAD_HANDLE", L"PLM_CGI_LOGIN_EXPIRED", ...) and
 * a sentence in English on what it means, both static, never freed. Either out
 * pointer may be null.
 * Returns: PLM_E_INVALID_ARG (a number that is no status; both texts are then
 * L"unknown status"). */
PLM_CAPI int PLM_CALL plm_StatusText(int status, const wchar_t** pName, const wchar_t** pMeaning);

/* ---- The request's parameters -------------------------------------------------------- */
/* Every handle works on the one process-wide list, parsed (CGI environment and
 * standard input) when the first handle or context with parameters is made. */

/* Returns: PLM_E_INVALID_ARG (pParams null). */
PLM_CAPI int PLM_CALL plm_ParamsOpen(PLM_PARAMS** pParams);
/* Returns: PLM_E_INVALID_ARG (pCopy null). */
PLM_CAPI int PLM_CALL plm_ParamsDuplicate(PLM_PARAMS* params, PLM_PARAMS** pCopy);
/* Returns: no other status. */
PLM_CAPI int PLM_CALL plm_ParamsClose(PLM_PARAMS* params);
/* The parse status: PLM_OK or one of PLM_CGI_*;
 * on failure the call's own status (PLM_E_BAD_HANDLE for a bad handle).
 * Returns: PLM_E_INVALID_ARG (pStatus null). */
PLM_CAPI int PLM_CALL plm_ParamsGetStatus(PLM_PARAMS* params, int* pStatus);
/* The first value whose name matches without regard to case; fallback (the empty
 * text when fallback is null) when none does.
 * Returns: PLM_E_BUFFER_TOO_SMALL; PLM_E_INVALID_ARG (name null, a null buffer
 * with a size, a size whose bytes do not fit the address space). */
PLM_CAPI int PLM_CALL plm_ParamsGetValue(PLM_PARAMS* params, const wchar_t* name, const wchar_t* fallback,
                                         wchar_t* buffer, size_t cchBuffer, size_t* pcchNeeded);
/* The value as a decimal number (its leading part), or fallback when none
 * matches; *pValue is fallback too when the call fails.
 * Returns: PLM_E_INVALID_ARG (name or pValue null). */
PLM_CAPI int PLM_CALL plm_ParamsGetIntValue(PLM_PARAMS* params, const wchar_t* name, int fallback, int* pValue);
/* The pair at the cursor (after going back to the first when reset is non-zero),
 * then the cursor advances: PLM_OK, or PLM_NO_MORE_PARAMS with both null (as on
 * any failure). The cursor is the process's (see Threads).
 * Returns: PLM_NO_MORE_PARAMS; PLM_E_INVALID_ARG (pName or pValue null). */
PLM_CAPI int PLM_CALL plm_ParamsNextPara(PLM_PARAMS* params, int reset, const wchar_t** pName, const wchar_t** pValue);
/* Returns: no other status. */
PLM_CAPI int PLM_CALL plm_ParamsResetEnum(PLM_PARAMS* params);
/* The parameters as an HTML table, UTF-8; empty when there are none to show.
 * Returns: PLM_E_INVALID_ARG (ppText null). */
PLM_CAPI int PLM_CALL plm_ParamsGetTableHtml(PLM_PARAMS* params, char** ppText, size_t* pcbText);
/* Every pair in order.
 * Returns: PLM_E_INVALID_ARG (callback null). */
PLM_CAPI int PLM_CALL plm_ParamsEnum(PLM_PARAMS* params, PLM_PARAM_CALLBACK callback, void* context);
/* Every value whose name matches name without regard to case.
 * Returns: PLM_E_INVALID_ARG (name or callback null). */
PLM_CAPI int PLM_CALL plm_ParamsEnumSpecial(PLM_PARAMS* params, const wchar_t* name,
                                            PLM_SPECIAL_PARAM_CALLBACK callback, void* context);

/* ---- The console context ------------------------------------------------------------ */

/* contentKind: PLM_CONTENT_HTML or PLM_CONTENT_CSV; loginMode: PLM_LOGIN_VERIFY,
 * PLM_LOGIN_CREATE or PLM_LOGIN_NONE. withParams non-zero reads the parameters.
 * resourcePrefix and resourceModule (both may be null) choose the resource DLL
 * ("CGIResUTF8" unless named). *pConsole is null on any failure.
 * Returns: PLM_E_INVALID_ARG (pConsole null, another contentKind or loginMode);
 * PLM_E_RESOURCE_DLL (the resource DLL cannot be used). */
PLM_CAPI int PLM_CALL plm_ConsoleOpen(int contentKind, const wchar_t* downloadName, int loginMode, int withParams,
                                      const wchar_t* resourcePrefix, const wchar_t* resourceModule,
                                      PLM_CONSOLE** pConsole);
/* A second handle on the same context (what copying a CConsoleCommon does).
 * Returns: PLM_E_INVALID_ARG (pCopy null). */
PLM_CAPI int PLM_CALL plm_ConsoleDuplicate(PLM_CONSOLE* console, PLM_CONSOLE** pCopy);
/* Returns: no other status. */
PLM_CAPI int PLM_CALL plm_ConsoleClose(PLM_CONSOLE* console);
/* PLM_OK or the code of the login check, the request parsing or the SSO check;
 * on failure the call's own status (PLM_E_BAD_HANDLE for a bad handle).
 * Returns: PLM_E_INVALID_ARG (pStatus null). */
PLM_CAPI int PLM_CALL plm_ConsoleGetStatus(PLM_CONSOLE* console, int* pStatus);
/* The complete response header, ending with its empty line (lines end in CR LF).
 * Returns: PLM_E_INVALID_ARG (ppText null). */
PLM_CAPI int PLM_CALL plm_ConsoleGetHeader(PLM_CONSOLE* console, char** ppText, size_t* pcbText);
/* Writes the header to standard output as it is.
 * Returns: PLM_E_WRITE. */
PLM_CAPI int PLM_CALL plm_ConsoleWriteHeader(PLM_CONSOLE* console);
/* A text of the resource DLL in the request's language; empty when it has none.
 * Returns: PLM_E_BUFFER_TOO_SMALL; PLM_E_INVALID_ARG (a buffer as for plm_ParamsGetValue). */
PLM_CAPI int PLM_CALL plm_ConsoleLoadResString(PLM_CONSOLE* console, int id, wchar_t* buffer, size_t cchBuffer,
                                               size_t* pcchNeeded);
/* The enumerations of the parameters, on the process-wide list.
 * Returns: PLM_E_INVALID_ARG (as for plm_ParamsEnum and plm_ParamsEnumSpecial). */
PLM_CAPI int PLM_CALL plm_ConsoleEnumParams(PLM_CONSOLE* console, PLM_PARAM_CALLBACK callback, void* context);
PLM_CAPI int PLM_CALL plm_ConsoleEnumSpecialParams(PLM_CONSOLE* console, const wchar_t* name,
                                                   PLM_SPECIAL_PARAM_CALLBACK callback, void* context);

/* ---- The output stream -------------------------------------------------------------- */

/* writeHeader non-zero writes a minimal header of its own ("Pragma: no-cache",
 * "Content-type: text/html;charset=utf-8", the empty line).
 * Returns: PLM_E_INVALID_ARG (pStream null). */
PLM_CAPI int PLM_CALL plm_StreamOpen(int writeHeader, PLM_STREAM** pStream);
/* Returns: PLM_E_INVALID_ARG (pCopy null). */
PLM_CAPI int PLM_CALL plm_StreamDuplicate(PLM_STREAM* stream, PLM_STREAM** pCopy);
/* Returns: no other status. */
PLM_CAPI int PLM_CALL plm_StreamClose(PLM_STREAM* stream);
/* Text in UTF-8, in the stream's mode (text mode: each LF leaves as CR LF).
 * A null text writes nothing (PLM_OK).
 * Returns: PLM_E_WRITE. */
PLM_CAPI int PLM_CALL plm_StreamWriteText(PLM_STREAM* stream, const wchar_t* text);
/* Text in the system's ANSI code page, written as UTF-8 like plm_StreamWriteText.
 * Returns: PLM_E_WRITE. */
PLM_CAPI int PLM_CALL plm_StreamWriteAnsi(PLM_STREAM* stream, const char* text);
/* Signed decimal.
 * Returns: PLM_E_WRITE. */
PLM_CAPI int PLM_CALL plm_StreamWriteInt(PLM_STREAM* stream, int value);
/* The bytes as they are (binary mode), after what the stream held; cbData 0
 * writes nothing.
 * Returns: PLM_E_WRITE; PLM_E_INVALID_ARG (data null with a size, or a size
 * that wraps the address space). */
PLM_CAPI int PLM_CALL plm_StreamWriteBinary(PLM_STREAM* stream, const void* data, size_t cbData);

/* ---- The resource loader ------------------------------------------------------------ */

/* Module "CGIResUTF8" unless named; *pResources null on any failure.
 * Returns: PLM_E_INVALID_ARG (pResources null); PLM_E_RESOURCE_DLL (the DLL or
 * its entry point "cgi_GetResourceString" cannot be used). */
PLM_CAPI int PLM_CALL plm_ResourcesOpen(const wchar_t* prefix, const wchar_t* moduleName, PLM_RESOURCES** pResources);
/* Returns: PLM_E_INVALID_ARG (pCopy null). */
PLM_CAPI int PLM_CALL plm_ResourcesDuplicate(PLM_RESOURCES* resources, PLM_RESOURCES** pCopy);
/* Returns: no other status. */
PLM_CAPI int PLM_CALL plm_ResourcesClose(PLM_RESOURCES* resources);
/* The text for id in the request's language; empty when the DLL has none.
 * Returns: PLM_E_BUFFER_TOO_SMALL; PLM_E_INVALID_ARG (a buffer as for plm_ParamsGetValue). */
PLM_CAPI int PLM_CALL plm_ResourcesGetString(PLM_RESOURCES* resources, int id, wchar_t* buffer, size_t cchBuffer,
                                             size_t* pcchNeeded);

#ifdef __cplusplus
}
#endif
#endif
