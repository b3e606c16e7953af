// The console context: the login decision, the response header, the resource
// DLL and the request's parameters of one console page.
#include "cgi_ConsoleContext.h"

#include <cstdio>
#include <cstring>

#include "cgi_CmdHandler.h"
#include "cgi_HostPaths.h"
#include "cgi_ParamList.h"
#include "cgi_PutStream.h"
#include "cgi_SetCookie.h"
#include "cgi_Utf8.h"
#include "cgi_Verify.h"
#include "foundation/trace_Trace.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

const wchar_t* const kSourceFile = kConsoleCommonSource;

bool g_bBackupInProgress = false;
SYSTEMTIME g_backupTime = {};

bool IsSsoPass(int result) { return result == 0 || result == -1; }

}  // namespace

bool ConsoleBackupInProgress() { return g_bBackupInProgress; }
const SYSTEMTIME& ConsoleBackupTime() { return g_backupTime; }

std::wstring SafeDownloadName(const wchar_t* name) {
    std::wstring safe;
    for (const wchar_t* p = name; p && *p; ++p)
        if (*p >= 0x20 && *p != 0x7F && *p != L'"') safe += *p;
    return safe;
}

CConsoleCommonImpl::CConsoleCommonImpl(int contentKind, const wchar_t* downloadName, int loginMode, bool withParams,
                                       const wchar_t* resourcePrefix, const wchar_t* resourceModule,
                                       const CookieList* extraCookies, bool forceSso, const SCookieHost& host) {
    SLoginSession session;
    memset(&session, 0, sizeof(session));
    session.nSSOResult = 1;
    if (loginMode == 0) {
        m_nErrorCode = VerifyLoginCookie(session, host);
        WDX_TRACE(kTraceConsole, L"[cgi init]m_nErrorCode=(%d)", m_nErrorCode);
    }
    StartHeader();
    if (session.nSSOResult != 1 || forceSso) {
        m_bSSO = true;
        WDX_TRACE(kTraceConsole, L"[init]SSO case");
    }
    WDX_TRACE(kTraceConsole, L"[init]SSO connection=(%d)", m_bSSO ? 1 : 0);
    m_pCookies.reset(new CookieSet);
    if ((loginMode == 0 || loginMode == 1) &&
        !ShowSetCookieInHeader(loginMode == 1, m_header, extraCookies, *m_pCookies, m_bSSO, session.virtualPath, host))
        m_nErrorCode = CGI_LOGIN_NOT_CREATED;
    FinishHeader(contentKind, downloadName, session);
    m_pResourceLoader.reset(new CResourceLoader(resourcePrefix, resourceModule));
    if (withParams) {
        m_pParameters.reset(new CGetParameter);
        if (m_nErrorCode == CGI_OK) m_nErrorCode = m_pParameters->GetErrorCode();
    }
}

void CConsoleCommonImpl::StartHeader() {
    std::wstring software;
    m_header = "Server: ";
    m_header += ReadEnvironment(L"SERVER_SOFTWARE", software, 1024) ? WideToUtf8(software) : "Quillon CGI";
    m_header += "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n";
}

void CConsoleCommonImpl::FinishHeader(int contentKind, const wchar_t* downloadName, const SLoginSession& session) {
    m_header += "Content-type: ";
    m_header += contentKind == 1 ? "text/x-csv" : "text/html";
    m_header += ";charset=utf-8";
    if (m_bSSO && session.ssoResponse[0]) {
        m_header += "\r\n";
        m_header += session.ssoResponse;
        if (!IsSsoPass(session.nSSOResult)) {
            m_nErrorCode = CGI_SSO_CHECK_FAILED;
        } else {
            WDX_TRACE(kTraceConsole, L"[init]SSO Pass cookie");
            m_nErrorCode = CGI_OK;
        }
    }
    m_header += "\r\n";
    if (downloadName) {
        m_header += "Content-Disposition: filename=\"";
        m_header += WideToUtf8(SafeDownloadName(downloadName));
        m_header += "\"\r\n";
    }
    m_header += "\r\n";
}

// ---- CConsoleCommon ---------------------------------------------------------------------

CConsoleCommon::CConsoleCommon(int contentKind, const wchar_t* downloadName, int loginMode, bool withParams,
                               const wchar_t* resourcePrefix, const wchar_t* resourceModule)
    : m_pImpl(nullptr) {
    bool inProgress = false;
    SYSTEMTIME when = {};
    if (CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(&inProgress, &when)) {
        g_bBackupInProgress = inProgress;
        g_backupTime = when;
    }
    if (g_bBackupInProgress) loginMode = 2;
    m_pImpl = new CConsoleCommonImpl(contentKind, downloadName, loginMode, withParams, resourcePrefix, resourceModule,
                                     nullptr, false, ActiveCookieHost());
}

CConsoleCommon::CConsoleCommon(const CConsoleCommon& other) : m_pImpl(ShareImpl(other.m_pImpl)) {}

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): AssignImpl shares before it releases
CConsoleCommon& CConsoleCommon::operator=(const CConsoleCommon& other) {
    AssignImpl(m_pImpl, other.m_pImpl);
    return *this;
}

CConsoleCommon::~CConsoleCommon() { ReleaseImpl(m_pImpl); }

// On the process-wide list, whoever built it: a context without parameters of
// its own still sees the list a CGetParameter parsed (and never parses one).
void CConsoleCommon::EnumParaCallBack(PARA_CALLBACK callback) {
    if (CCgiParamList* list = ProcessParamList()) list->EnumParaCallBack(callback);
}

void CConsoleCommon::EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback) {
    if (CCgiParamList* list = ProcessParamList()) list->EnumSpecialParaCallBack(name, callback);
}

int CConsoleCommon::GetErrorCode() const { return m_pImpl->m_nErrorCode; }

std::string CConsoleCommon::GetHeader() const { return m_pImpl->m_header; }

void CConsoleCommon::WriteHeader() const { OutputBinary(m_pImpl->m_header.data(), m_pImpl->m_header.size()); }

std::wstring CConsoleCommon::LoadResString(int id) const {
    return m_pImpl->m_pResourceLoader ? m_pImpl->m_pResourceLoader->GetString(id) : std::wstring();
}

}  // namespace plm
