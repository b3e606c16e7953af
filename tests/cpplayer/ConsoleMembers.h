// The members both C++ faces of the console declare, each with its exact type.
// Compiled once against plm_Console.h (the DLL's classes) and once against
// plm_ConsoleCpp.h (the layer over the C interface): a member one face lacks,
// or declares otherwise, fails the build.
#pragma once
#include <string>
#include <type_traits>

#define PLM_MEMBER(Class, Name, Type) \
    static_assert(std::is_same<decltype(static_cast<Type>(&plm::Class::Name)), Type>::value, #Class "::" #Name)

namespace consolemembers {

using std::is_constructible;
using std::is_copy_assignable;
using std::is_copy_constructible;
using std::is_default_constructible;

static_assert(std::is_same<plm::PARA_CALLBACK, bool* (*)(const wchar_t*, const wchar_t*)>::value, "PARA_CALLBACK");
static_assert(std::is_same<plm::SPECIAL_PARA_CALLBACK, bool* (*)(const wchar_t*)>::value, "SPECIAL_PARA_CALLBACK");
static_assert(plm::CGI_OK == PLM_OK && plm::CGI_ERR_CONTENT_TYPE == PLM_CGI_ERR_CONTENT_TYPE &&
                  plm::CONSOLE_KIND_HUBC == PLM_CONSOLE_KIND_HUBC,
              "status numbers");

static_assert(is_default_constructible<plm::CGetParameter>::value && is_copy_assignable<plm::CGetParameter>::value,
              "CGetParameter");
PLM_MEMBER(CGetParameter, GetErrorCode, int (plm::CGetParameter::*)());
PLM_MEMBER(CGetParameter, GetValue, const std::wstring (plm::CGetParameter::*)(const wchar_t*));
PLM_MEMBER(CGetParameter, GetValue, const std::wstring (plm::CGetParameter::*)(const wchar_t*, const wchar_t*));
PLM_MEMBER(CGetParameter, GetIntValue, int (plm::CGetParameter::*)(const wchar_t*, int));
PLM_MEMBER(CGetParameter, GetNextPara, bool (plm::CGetParameter::*)(const wchar_t*&, const wchar_t*&, bool));
PLM_MEMBER(CGetParameter, ResetEnum, void (plm::CGetParameter::*)());
PLM_MEMBER(CGetParameter, GetParaTableHtml, std::string (plm::CGetParameter::*)());
PLM_MEMBER(CGetParameter, EnumParaCallBack, void (plm::CGetParameter::*)(plm::PARA_CALLBACK));
PLM_MEMBER(CGetParameter, EnumSpecialParaCallBack,
           void (plm::CGetParameter::*)(const wchar_t*, plm::SPECIAL_PARA_CALLBACK));

static_assert(
    is_constructible<plm::CConsoleCommon, int, const wchar_t*, int, bool, const wchar_t*, const wchar_t*>::value &&
        is_default_constructible<plm::CConsoleCommon>::value && is_copy_constructible<plm::CConsoleCommon>::value &&
        is_copy_assignable<plm::CConsoleCommon>::value,
    "CConsoleCommon");
PLM_MEMBER(CConsoleCommon, EnumParaCallBack, void (plm::CConsoleCommon::*)(plm::PARA_CALLBACK));
PLM_MEMBER(CConsoleCommon, EnumSpecialParaCallBack,
           void (plm::CConsoleCommon::*)(const wchar_t*, plm::SPECIAL_PARA_CALLBACK));
PLM_MEMBER(CConsoleCommon, GetErrorCode, int (plm::CConsoleCommon::*)() const);
PLM_MEMBER(CConsoleCommon, GetHeader, std::string (plm::CConsoleCommon::*)() const);
PLM_MEMBER(CConsoleCommon, WriteHeader, void (plm::CConsoleCommon::*)() const);
PLM_MEMBER(CConsoleCommon, LoadResString, std::wstring (plm::CConsoleCommon::*)(int) const);

static_assert(is_constructible<plm::CPutStream, bool>::value && is_default_constructible<plm::CPutStream>::value &&
                  is_copy_constructible<plm::CPutStream>::value && is_copy_assignable<plm::CPutStream>::value,
              "CPutStream");
PLM_MEMBER(CPutStream, operator<<, plm::CPutStream& (plm::CPutStream::*)(const wchar_t*));
PLM_MEMBER(CPutStream, operator<<, plm::CPutStream& (plm::CPutStream::*)(const char*));
PLM_MEMBER(CPutStream, operator<<, plm::CPutStream& (plm::CPutStream::*)(int));
PLM_MEMBER(CPutStream, WriteBinary, void (plm::CPutStream::*)(const void*, int));

static_assert(is_constructible<plm::CResourceLoader, const wchar_t*, const wchar_t*>::value &&
                  is_default_constructible<plm::CResourceLoader>::value &&
                  is_copy_constructible<plm::CResourceLoader>::value && is_copy_assignable<plm::CResourceLoader>::value,
              "CResourceLoader");
PLM_MEMBER(CResourceLoader, GetString, std::wstring (plm::CResourceLoader::*)(int) const);
static_assert(is_default_constructible<plm::CResourceLoaderException>::value, "CResourceLoaderException");

template <typename Shell>
constexpr bool IsShell() {
    return is_copy_constructible<Shell>::value && is_copy_assignable<Shell>::value &&
           std::has_virtual_destructor<Shell>::value;
}
static_assert(IsShell<plm::CHtmlTable>() && is_default_constructible<plm::CHtmlTable>::value, "CHtmlTable");
static_assert(IsShell<plm::CHtmlCheckbox>() && IsShell<plm::CHtmlRadioButton>() && IsShell<plm::CHtmlLink>() &&
                  IsShell<plm::CHtmlHidden>(),
              "HTML shells");

}  // namespace consolemembers

#undef PLM_MEMBER
