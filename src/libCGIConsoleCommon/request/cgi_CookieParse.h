// Reading a request's cookie header: the login session of the console, or
// every cookie as a name-value set.
#pragma once
#include "cgi_ConsoleCommon.h"

namespace plm {

// Fills session from the header (null: empty) and runs the single-sign-on
// check when the management console's hand-over cookies are present.
void ParseCookieValue(const wchar_t* cookieHeader, SLoginSession& session, const SCookieHost& host);
// Adds the header's cookies to the set; a name already present keeps its value.
void ParseCookieSet(const wchar_t* cookieText, CookieSet& cookies);

}  // namespace plm
