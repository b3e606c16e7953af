// The console context behind plm::CConsoleCommon.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "cgi_ConsoleCommon.h"
#include "cgi_CountedImpl.h"
#include "console/plm_Console.h"

namespace plm {

// Whether the server reported a database backup when the last context was
// built, and when it started. Process-wide, as every page of the process sees it.
bool ConsoleBackupInProgress();
const SYSTEMTIME& ConsoleBackupTime();

class CConsoleCommonImpl : public CCountedImpl {
public:
    CConsoleCommonImpl(int contentKind, const wchar_t* downloadName, int loginMode, bool withParams,
                       const wchar_t* resourcePrefix, const wchar_t* resourceModule, const CookieList* extraCookies,
                       bool forceSso, const SCookieHost& host);

    std::unique_ptr<CResourceLoader> m_pResourceLoader;
    std::unique_ptr<CGetParameter> m_pParameters;
    bool m_bSSO = false;
    std::string m_header;
    std::unique_ptr<CookieSet> m_pCookies;
    int m_nErrorCode = CGI_OK;

private:
    void StartHeader();
    void FinishHeader(int contentKind, const wchar_t* downloadName, const SLoginSession& session);
};

// A download name as it may stand inside the quotes of Content-Disposition:
// CR, LF, other control characters and double quotes are dropped.
std::wstring SafeDownloadName(const wchar_t* name);

}  // namespace plm
