#include "foundation/os_Exception.h"

#include <cwchar>
#include <vector>

namespace OS {

namespace {
const size_t kMaxPathPart = 255;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

std::wstring ExtractFileName(const wchar_t* sourcePath) {
    if (sourcePath == nullptr) return std::wstring();
    std::wstring path(sourcePath);
    size_t start = (path.size() >= 2 && path[1] == L':') ? 2 : 0;  // drive
    for (size_t i = start; i < path.size(); ++i) {
        if (IsSeparator(path[i])) start = i + 1;  // folders end at the last separator
    }
    const std::wstring nameAndExt = path.substr(start);
    const size_t dot = nameAndExt.rfind(L'.');
    std::wstring name = nameAndExt.substr(0, dot);
    std::wstring ext = (dot == std::wstring::npos) ? std::wstring() : nameAndExt.substr(dot);
    if (name.size() > kMaxPathPart) name.resize(kMaxPathPart);
    if (ext.size() > kMaxPathPart) ext.resize(kMaxPathPart);
    return name + ext;
}

CReturnValueObj::~CReturnValueObj() = default;
void CReturnValueObj::SetCode(int code) { m_nCode = code; }
void CReturnValueObj::SetAuxValue(int auxValue) { m_nAuxValue = auxValue; }
void CReturnValueObj::SetMessage(const wchar_t* message) {
    if (message == nullptr) {
        m_strMessage.clear();
    } else {
        m_strMessage = message;
    }
}
int CReturnValueObj::GetCode() const { return m_nCode; }
int CReturnValueObj::GetAuxValue() const { return m_nAuxValue; }
std::wstring CReturnValueObj::GetMessage() const { return m_strMessage; }

CException::CException(int code, const wchar_t* sourcePath, int line, int auxValue)
    : CReturnValueObj(code, auxValue), m_strFileName(ExtractFileName(sourcePath)), m_nLine(line) {}

CException::~CException() = default;

int CException::GetErrorCode() const { return GetCode(); }

std::wstring CException::GetDescription() const {
    const std::wstring message = GetMessage();
    if (m_strFileName.empty()) return message;
    // The numbers take at most 11 characters each; the rest is the texts and punctuation.
    std::vector<wchar_t> text(message.size() + m_strFileName.size() + 64, L'\0');
    const int cch = _snwprintf_s(text.data(), text.size(), _TRUNCATE, L"%s, (%d), [%s|%d]", message.c_str(),
                                 GetErrorCode(), m_strFileName.c_str(), m_nLine);
    if (cch < 0) return message;
    return std::wstring(text.data(), static_cast<size_t>(cch));
}

}  // namespace OS
