// The Set-Cookie lines of a console response, and the new login they carry
// when one is created.
#pragma once
#include <string>

#include "cgi_ConsoleCommon.h"

namespace plm {

// Appends the response's Set-Cookie lines to header, creating a new login
// (key file included) when newLogin is set. virtualPath is not used. False,
// with nothing appended, when a new login cannot be created safely.
bool ShowSetCookieInHeader(bool newLogin, std::string& header, const CookieList* extraCookies, CookieSet& cookies,
                           bool sso, const char* virtualPath, const SCookieHost& host);

}  // namespace plm
