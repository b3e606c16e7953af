// plm::CGetParameter: the process-wide parameter list, parsed from the real CGI
// environment and standard input when the first instance is built, and the
// lookups and enumerations over it.
#include <cwchar>
#include <exception>
#include <memory>
#include <mutex>
#include <exception>
#include <new>

#include "cgi_HostPaths.h"
#include "cgi_IniValueCache.h"
#include "cgi_ParamParser.h"
#include "cgi_TempFiles.h"
#include "cgi_Utf8.h"
#include "console/plm_Console.h"
#include "foundation/trace_Trace.h"

namespace plm {
namespace {

using FrameworkChannel::TraceWrite;
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_GetParameter";

const DWORD kMaxEnvChars = 32767;  // the platform's limit for one variable

// The variable as UTF-8 (what a browser's query and form bytes are); nullopt
// when it is not set.
std::optional<std::string> ReadCgiVariable(const wchar_t* name) {
    std::wstring value;
    if (!ReadEnvironment(name, value, kMaxEnvChars)) return std::nullopt;
    return WideToUtf8(value);
}

SCgiRequest ReadCgiRequest() {
    SCgiRequest request;
    request.method = ReadCgiVariable(L"REQUEST_METHOD");
    request.queryString = ReadCgiVariable(L"QUERY_STRING");
    request.contentType = ReadCgiVariable(L"CONTENT_TYPE");
    request.contentLength = ReadCgiVariable(L"CONTENT_LENGTH");
    return request;
}

SCgiLimits ReadServerLimits() {
    SCgiLimits limits;
    limits.maxPostSizeK = GetMaxPostSizeK();
    limits.maxUploadSizeM = ReadServerIniInt(L"INI_SERVER_SECTION", L"MaxUploadSize", 64);
    limits.uploadBudget = ReadUploadBudget();
    wchar_t folder[MAX_PATH] = {};
    GetServerFolder(folder, MAX_PATH);
    limits.serverFolder = folder;
    return limits;
}

// Null until the first CGetParameter; then the one list, never replaced or freed
// (callers hold pointers into it for the life of the process).
CCgiParamList* g_pParamList = nullptr;
std::once_flag g_parseOnce;

void ParseProcessRequest() {
    try {
        std::unique_ptr<CCgiParamList> list(new CCgiParamList);
        CStdinInput input;
        ParseRequest(ReadCgiRequest(), input, ReadServerLimits(), *list);
        g_pParamList = list.release();
    } catch (const std::exception&) {  // bad_alloc, or length_error for a size beyond this process's reach
        WDX_TRACE(kTraceFailure, L"[CGetParameter] out of memory; the request yields no parameters");
    }
}

// Uploads that pages kept, or that killed pages left, go once past their
// bound; any request may find the minute's sweep due. Nothing of it reaches
// the page: a sweep that fails is left to a later request.
std::once_flag g_sweepOnce;
void SweepProcessUploads() {
    try {
        wchar_t folder[MAX_PATH] = {};
        GetServerFolder(folder, MAX_PATH);
        SweepUploadsInTurn(folder);
    } catch (const std::exception&) {
        WDX_TRACE(kTraceFailure, L"[CGetParameter] the uploads' sweep failed; a later request makes it");
    }
}

// The list itself stays (pointers into it may be used until the very end), but
// the uploads the page never received go with the process.
struct SUnclaimedFilesAtExit {
    ~SUnclaimedFilesAtExit() {
        if (g_pParamList) g_pParamList->DeleteUnclaimedFiles();
    }
} g_unclaimedFilesAtExit;

}  // namespace

CCgiParamList* ProcessParamList() { return g_pParamList; }

CGetParameter::CGetParameter() {
    std::call_once(g_parseOnce, ParseProcessRequest);
    std::call_once(g_sweepOnce, SweepProcessUploads);
}

CGetParameter& CGetParameter::operator=(const CGetParameter&) { return *this; }

int CGetParameter::GetErrorCode() { return g_pParamList ? g_pParamList->Status() : CGI_ERR_NO_PARAM_LIST; }

const std::wstring CGetParameter::GetValue(const wchar_t* name) { return GetValue(name, L""); }

const std::wstring CGetParameter::GetValue(const wchar_t* name, const wchar_t* fallback) {
    const wchar_t* value = g_pParamList ? g_pParamList->FindValue(name) : nullptr;
    if (value) return value;
    return fallback ? fallback : L"";
}

int CGetParameter::GetIntValue(const wchar_t* name, int fallback) {
    const wchar_t* value = g_pParamList ? g_pParamList->FindValue(name) : nullptr;
    return value ? static_cast<int>(wcstol(value, nullptr, 10)) : fallback;
}

bool CGetParameter::GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset) {
    if (g_pParamList) return g_pParamList->GetNextPara(name, value, reset);
    value = nullptr;
    return false;
}

void CGetParameter::ResetEnum() {
    if (g_pParamList) g_pParamList->ResetEnum();
}

std::string CGetParameter::GetParaTableHtml() { return g_pParamList ? g_pParamList->ParaTableHtml() : std::string(); }

void CGetParameter::EnumParaCallBack(PARA_CALLBACK callback) {
    if (g_pParamList) g_pParamList->EnumParaCallBack(callback);
}

void CGetParameter::EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback) {
    if (g_pParamList) g_pParamList->EnumSpecialParaCallBack(name, callback);
}

}  // namespace plm
