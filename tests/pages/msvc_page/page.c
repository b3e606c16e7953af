/* A console page as a Visual Studio team builds one, made without any Microsoft
 * header, library or C runtime: clang in MSVC mode (-ffreestanding, its own
 * stddef.h and stdint.h), lld-link against WDXPatchAgent.lib and a kernel32
 * import library of its own. The library is reached through its C interface
 * alone, and every byte goes out through the library's output path.
 * PAGE_ROLE picks the page (one source, one program per role):
 *   PAGE_ECHO    the parse status and every pair, byte for byte as echo.exe
 *   PAGE_LOGIN   a new login, as login.exe
 *   PAGE_STATUS  whether the request's login is valid, as status.exe */
#include "cgires/cgires_ids.h"
#include "console/plm_ConsoleC.h"

#define PAGE_ECHO 1
#define PAGE_LOGIN 2
#define PAGE_STATUS 3
#ifndef PAGE_ROLE
#error PAGE_ROLE must name the page
#endif

/* The one Win32 call the page makes itself. */
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int exitCode);

/* A compiler may turn a loop or a struct copy into these calls even without a C
 * runtime, so the page carries them. */
void* memset(void* dest, int value, size_t cb);
void* memcpy(void* dest, const void* source, size_t cb);
void* memset(void* dest, int value, size_t cb) {
    volatile unsigned char* p = (volatile unsigned char*)dest;
    while (cb--) *p++ = (unsigned char)value;
    return dest;
}
void* memcpy(void* dest, const void* source, size_t cb) {
    volatile unsigned char* to = (volatile unsigned char*)dest;
    const unsigned char* from = (const unsigned char*)source;
    while (cb--) *to++ = *from++;
    return dest;
}

/* ---- Output: UTF-8 bytes gathered here, written by the library in binary ---------------- */

static PLM_STREAM* g_stream;
static unsigned char g_out[4096];
static size_t g_cbOut;
static int g_failed;

static void Flush(void) {
    if (g_cbOut && plm_StreamWriteBinary(g_stream, g_out, g_cbOut) != PLM_OK) g_failed = 1;
    g_cbOut = 0;
}

static void PutByte(unsigned char b) {
    if (g_cbOut == sizeof g_out) Flush();
    g_out[g_cbOut++] = b;
}

static void PutAscii(const char* text) {
    while (*text) PutByte((unsigned char)*text++);
}

/* ---- The echo page: plain text for machines --------------------------------------------- */
#if PAGE_ROLE == PAGE_ECHO

static void PutUnsigned(unsigned long value, unsigned base, unsigned minDigits) {
    char digits[16];
    unsigned count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value && count < sizeof digits);
    while (count < minDigits && count < sizeof digits) digits[count++] = '0';
    while (count) PutByte((unsigned char)digits[--count]);
}

static void PutInt(int value) {
    if (value < 0) PutByte('-');
    PutUnsigned(value < 0 ? 0UL - (unsigned long)value : (unsigned long)value, 10, 1);
}

/* The character at p in UTF-8 (a surrogate pair as one code point, a lone
 * surrogate as U+FFFD); returns the last unit it used. */
static const wchar_t* PutChar(const wchar_t* p) {
    unsigned long cp = *p;
    if (cp >= 0xD800 && cp < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + ((unsigned long)p[1] - 0xDC00);
        ++p;
    } else if (cp >= 0xD800 && cp < 0xE000) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        PutByte((unsigned char)cp);
    } else if (cp < 0x800) {
        PutByte((unsigned char)(0xC0 | (cp >> 6)));
        PutByte((unsigned char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        PutByte((unsigned char)(0xE0 | (cp >> 12)));
        PutByte((unsigned char)(0x80 | ((cp >> 6) & 0x3F)));
        PutByte((unsigned char)(0x80 | (cp & 0x3F)));
    } else {
        PutByte((unsigned char)(0xF0 | (cp >> 18)));
        PutByte((unsigned char)(0x80 | ((cp >> 12) & 0x3F)));
        PutByte((unsigned char)(0x80 | ((cp >> 6) & 0x3F)));
        PutByte((unsigned char)(0x80 | (cp & 0x3F)));
    }
    return p;
}

/* A name or value of the request with backslash and control characters made
 * visible (\\, \t, \r, \n, \xHH), the rest in UTF-8. */
static void PutVisible(const wchar_t* text) {
    for (const wchar_t* p = text; p && *p; ++p) {
        const unsigned c = *p;
        if (c == '\\') {
            PutAscii("\\\\");
        } else if (c == '\t') {
            PutAscii("\\t");
        } else if (c == '\r') {
            PutAscii("\\r");
        } else if (c == '\n') {
            PutAscii("\\n");
        } else if (c < 0x20) {
            PutAscii("\\x");
            PutUnsigned(c, 16, 2);
        } else {
            p = PutChar(p);
        }
    }
}

/* Plain text for machines: "status N", then "pair<TAB>name<TAB>value" per pair. */
static int Page(void) {
    PLM_PARAMS* params = NULL;
    int status = 0;
    const wchar_t* name = NULL;
    const wchar_t* value = NULL;
    if (plm_ParamsOpen(&params) != PLM_OK || plm_ParamsGetStatus(params, &status) != PLM_OK) return 1;
    PutAscii("Content-type: text/plain;charset=utf-8\r\n\r\nstatus ");
    PutInt(status);
    PutByte('\n');
    for (int reset = 1; plm_ParamsNextPara(params, reset, &name, &value) == PLM_OK; reset = 0) {
        PutAscii("pair\t");
        PutVisible(name);
        PutByte('\t');
        PutVisible(value);
        PutByte('\n');
    }
    Flush();
    plm_ParamsClose(params);
    return g_failed;
}
#else
/* ---- The sign-in and status pages: HTML through the stream's text writes -------------- */

/* A resource text, HTML-escaped, through the stream's wide-text write. The
 * library says how much room the text needs: a short one fits the first
 * buffer, a longer one is asked for again. */
static void WriteResourceText(PLM_CONSOLE* console, int id) {
    static wchar_t small[32], large[1024], escaped[6 * 1024];
    const wchar_t* text = small;
    size_t cchNeeded = 0;
    int rc = plm_ConsoleLoadResString(console, id, small, sizeof small / sizeof small[0], &cchNeeded);
    if (rc == PLM_E_BUFFER_TOO_SMALL && cchNeeded <= sizeof large / sizeof large[0]) {
        text = large;
        rc = plm_ConsoleLoadResString(console, id, large, cchNeeded, &cchNeeded);
    }
    if (rc != PLM_OK) return;
    size_t cch = 0;
    for (; *text; ++text) {
        const char* entity = *text == '&'   ? "&amp;"
                             : *text == '<' ? "&lt;"
                             : *text == '>' ? "&gt;"
                             : *text == '"' ? "&quot;"
                                            : NULL;
        if (!entity) {
            escaped[cch++] = *text;
            continue;
        }
        while (*entity) escaped[cch++] = (wchar_t)*entity++;
    }
    escaped[cch] = 0;
    plm_StreamWriteText(g_stream, escaped);
}

/* The meaning of a login code for a person (the codes the resource DLL explains). */
static int MeaningOf(int code) {
    switch (code) {
    case PLM_OK:
    case PLM_CGI_LOGIN_KEY_MISMATCH:
    case PLM_CGI_LOGIN_EXPIRED:
    case PLM_CGI_LOGIN_NO_COOKIE:
    case PLM_CGI_LOGIN_NO_KEY_FILE:
    case PLM_CGI_LOGIN_NOT_CREATED:
    case PLM_CGI_SSO_CHECK_FAILED:
        return CGIRES_CODE(code);
    default:
        return CGIRES_CODE_UNKNOWN;
    }
}

/* The sign-in page (a new login, its cookies in the header) or the status page
 * (the request's login checked and its cookies refreshed). */
static int Page(void) {
    const int signIn = PAGE_ROLE == PAGE_LOGIN;
    const int title = signIn ? CGIRES_TITLE_LOGIN : CGIRES_TITLE_STATUS;
    PLM_CONSOLE* console = NULL;
    int code = 0;
    const int rc =
        plm_ConsoleOpen(PLM_CONTENT_HTML, NULL, signIn ? PLM_LOGIN_CREATE : PLM_LOGIN_VERIFY, 1, NULL, NULL, &console);
    if (rc == PLM_E_RESOURCE_DLL) {
        PutAscii(
            "Status: 500 Internal Server Error\r\nContent-type: text/plain;charset=utf-8\r\n\r\n"
            "The console's resource DLL CGIResUTF8.dll cannot be loaded.\n");
        Flush();
        return 1;
    }
    if (rc != PLM_OK || plm_ConsoleGetStatus(console, &code) != PLM_OK) return 1;
    plm_ConsoleWriteHeader(console);
    plm_StreamWriteText(g_stream, L"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>");
    WriteResourceText(console, title);
    plm_StreamWriteText(g_stream,
                        L"</title><link rel=\"stylesheet\" href=\"/quillon/console.css\"></head><body>\n<h1>");
    WriteResourceText(console, title);
    plm_StreamWriteText(g_stream, L"</h1>\n<p id=\"code\">");
    plm_StreamWriteInt(g_stream, code);
    plm_StreamWriteText(g_stream, code == PLM_OK ? L"</p>\n<p id=\"meaning\" class=\"valid\">"
                                                 : L"</p>\n<p id=\"meaning\" class=\"invalid\">");
    WriteResourceText(console, MeaningOf(code));
    plm_StreamWriteText(g_stream, signIn ? L"</p>\n<p><a id=\"status-link\" href=\"status.exe\">"
                                         : L"</p>\n<p><a id=\"signin\" href=\"login.exe\">");
    WriteResourceText(console, signIn ? CGIRES_LINK_STATUS : CGIRES_SIGN_IN);
    plm_StreamWriteText(g_stream, L"</a></p>\n</body></html>\n");
    plm_ConsoleClose(console);
    return 0;
}
#endif

/* The entry point lld-link is told to use: no C runtime starts before it. */
void __cdecl mainCRTStartup(void);
void __cdecl mainCRTStartup(void) {
    int exitCode = 1;
    if (plm_StreamOpen(0, &g_stream) == PLM_OK) {
        exitCode = Page();
        plm_StreamClose(g_stream);
    }
    plm_Flush();
    ExitProcess((unsigned)exitCode);
}
