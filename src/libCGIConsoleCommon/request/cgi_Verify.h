// Whether a request's login cookies name a valid, unexpired login.
#pragma once
#include "cgi_ConsoleCommon.h"

namespace plm {

// 3900 valid, 3904 key differs, 3905 expired, 3906 no cookie header, 3907 no
// usable key file. Also purges idle key files and expired companion files.
int VerifyLoginCookie(SLoginSession& session, const SCookieHost& host);

}  // namespace plm
