// The console pages' texts in English and German.
#include <windows.h>

#include <cwchar>

#include "cgires_ids.h"

namespace {

struct Text {
    int id;
    const wchar_t* english;
    const wchar_t* german;
};

const Text kTexts[] = {
    {CGIRES_TITLE_INDEX, L"Console", L"Konsole"},
    {CGIRES_TITLE_LOGIN, L"Sign in", L"Anmelden"},
    {CGIRES_TITLE_STATUS, L"Login status", L"Anmeldestatus"},
    {CGIRES_TITLE_REPORT, L"Report", L"Bericht"},
    {CGIRES_SIGN_IN, L"Sign in", L"Anmelden"},
    {CGIRES_LINK_STATUS, L"Show the login status", L"Anmeldestatus anzeigen"},
    {CGIRES_LINK_REPORT, L"Download the report", L"Bericht herunterladen"},
    {CGIRES_LINK_INDEX, L"Back to the console", L"Zur\u00fcck zur Konsole"},
    {CGIRES_LINK_LOGIN, L"Sign in again", L"Erneut anmelden"},
    {CGIRES_CODE_UNKNOWN, L"The login could not be checked.", L"Die Anmeldung konnte nicht gepr\u00fcft werden."},
    {CGIRES_CODE(3900), L"You are signed in.", L"Sie sind angemeldet."},
    {CGIRES_CODE(3904), L"Your login key does not match. Please sign in again.",
     L"Ihr Anmeldeschl\u00fcssel passt nicht. Bitte melden Sie sich erneut an."},
    {CGIRES_CODE(3905), L"Your login has expired. Please sign in again.",
     L"Ihre Anmeldung ist abgelaufen. Bitte melden Sie sich erneut an."},
    {CGIRES_CODE(3906), L"Your browser sent no login cookies. Please sign in.",
     L"Ihr Browser hat keine Anmelde-Cookies gesendet. Bitte melden Sie sich an."},
    {CGIRES_CODE(3907), L"This login is not known to the server. Please sign in again.",
     L"Diese Anmeldung ist dem Server nicht bekannt. Bitte melden Sie sich erneut an."},
    {CGIRES_CODE(3909), L"The server could not start a new login safely. Please try again later.",
     L"Der Server konnte keine neue Anmeldung sicher anlegen. Bitte versuchen Sie es sp\u00e4ter erneut."},
    {CGIRES_CODE(3910), L"The single sign-on hand-over was refused.",
     L"Die \u00dcbergabe der Einmalanmeldung wurde abgelehnt."},
};

bool IsGerman(const wchar_t* language) {
    return language && (language[0] == L'd' || language[0] == L'D') && (language[1] == L'e' || language[1] == L'E') &&
           (language[2] == L'\0' || language[2] == L'-' || language[2] == L'_');
}

}  // namespace

// Copies the text of id in the language (English unless German is asked for),
// terminated and cut to fit; returns the number of characters copied, 0 when
// there is no such text or no room.
extern "C" int __cdecl cgi_GetResourceString(const wchar_t* language, int id, wchar_t* buffer, int cchBuffer) {
    if (!buffer || cchBuffer <= 0) return 0;
    buffer[0] = L'\0';
    for (const Text& text : kTexts) {
        if (text.id != id) continue;
        const wchar_t* chosen = IsGerman(language) ? text.german : text.english;
        size_t cch = wcslen(chosen);
        if (cch > static_cast<size_t>(cchBuffer - 1)) cch = static_cast<size_t>(cchBuffer - 1);
        wmemcpy(buffer, chosen, cch);
        buffer[cch] = L'\0';
        return static_cast<int>(cch);
    }
    return 0;
}
