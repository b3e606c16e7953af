/* A console page written in C (C99) on the library's C interface: plain text
 * for machines, one fact per line. The values of the request's "name" and
 * "n", every pair, every value of "tag", a resource text, and statuses the
 * interface gives for its own misuse. Text, ANSI, integer and binary writes
 * are mixed on purpose: their order on the wire must be the order written. */
#include <stddef.h>
#include <wchar.h>

#include "cgires/cgires_ids.h"
#include "console/plm_ConsoleC.h"

typedef struct SPageOut {
    PLM_STREAM* stream;
    int pairs;
} SPageOut;

static void Line2(PLM_STREAM* stream, const wchar_t* label, const wchar_t* text) {
    plm_StreamWriteText(stream, label);
    plm_StreamWriteText(stream, L"\t");
    plm_StreamWriteText(stream, text);
    plm_StreamWriteText(stream, L"\n");
}

static void LineInt(PLM_STREAM* stream, const wchar_t* label, int value) {
    plm_StreamWriteText(stream, label);
    plm_StreamWriteText(stream, L" ");
    plm_StreamWriteInt(stream, value);
    plm_StreamWriteText(stream, L"\n");
}

static void PLM_CALL OnPair(void* context, const wchar_t* name, const wchar_t* value) {
    SPageOut* out = (SPageOut*)context;
    ++out->pairs;
    plm_StreamWriteText(out->stream, L"pair\t");
    Line2(out->stream, name, value);
}

static void PLM_CALL OnTag(void* context, const wchar_t* value) {
    SPageOut* out = (SPageOut*)context;
    Line2(out->stream, L"tag", value);
}

int main(void) {
    PLM_CONSOLE* console = NULL;
    PLM_PARAMS* params = NULL;
    SPageOut out = {NULL, 0};
    wchar_t small[4];
    wchar_t text[256];
    size_t cchNeeded = 0;
    char* table = NULL;
    size_t cbTable = 0;
    const wchar_t* name = NULL;
    const wchar_t* value = NULL;
    int status = 0;
    int number = 0;
    int opened = plm_ConsoleOpen(PLM_CONTENT_HTML, NULL, PLM_LOGIN_VERIFY, 1, NULL, NULL, &console);

    if (plm_StreamOpen(0, &out.stream) != PLM_OK) return 1;
    if (opened != PLM_OK) {
        static const char kFailure[] =
            "Status: 500 Internal Server Error\r\nContent-type: text/plain\r\n\r\nno console\n";
        plm_StreamWriteBinary(out.stream, kFailure, sizeof kFailure - 1);
        plm_StreamClose(out.stream);
        return 1;
    }
    plm_ConsoleWriteHeader(console);
    plm_ConsoleGetStatus(console, &status);
    LineInt(out.stream, L"console", status);

    plm_ParamsOpen(&params);
    plm_ParamsGetStatus(params, &status);
    LineInt(out.stream, L"status", status);

    /* Asked twice: first into a buffer that is too small, then at the size needed. */
    status = plm_ParamsGetValue(params, L"name", L"(none)", small, 4, &cchNeeded);
    if (status == PLM_E_BUFFER_TOO_SMALL && cchNeeded <= 256)
        status = plm_ParamsGetValue(params, L"name", L"(none)", text, cchNeeded, &cchNeeded);
    Line2(out.stream, L"name", status == PLM_OK ? text : L"?");
    plm_ParamsGetIntValue(params, L"n", -1, &number);
    LineInt(out.stream, L"n", number);

    plm_ParamsEnum(params, OnPair, &out);
    LineInt(out.stream, L"pairs", out.pairs);
    plm_ParamsEnumSpecial(params, L"tag", OnTag, &out);
    number = 0;
    while (plm_ParamsNextPara(params, number == 0, &name, &value) == PLM_OK) ++number;
    LineInt(out.stream, L"cursor", number);

    if (plm_ConsoleLoadResString(console, CGIRES_TITLE_STATUS, text, 256, &cchNeeded) == PLM_OK)
        Line2(out.stream, L"res", text);
    if (plm_ParamsGetTableHtml(params, &table, &cbTable) == PLM_OK) {
        LineInt(out.stream, L"table", cbTable > 0 && table[0] == '<');
        LineInt(out.stream, L"free", plm_FreeText(table));
        LineInt(out.stream, L"free again", plm_FreeText(table));
    }
    LineInt(out.stream, L"closed", plm_ParamsClose(params));
    LineInt(out.stream, L"closed again", plm_ParamsClose(params));

    plm_StreamWriteAnsi(out.stream, "ansi ok\n");
    plm_StreamWriteBinary(out.stream, "binary\n", 7); /* no CR: written as it is */
    plm_StreamWriteText(out.stream, L"end\n");
    plm_StreamClose(out.stream);
    plm_ConsoleClose(console);
    return 0;
}
