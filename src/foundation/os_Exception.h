// Exception family of the framework: a result code with an auxiliary value and a
// message, plus the place (file name, line) where a failure was raised.
// Units derive their own class and add GetCodeText() for their codes. Thrown by
// value, caught as OS::CException&.
#pragma once
// windows.h maps GetMessage to GetMessageW; including it here keeps that mapping
// identical in every unit that declares, defines or calls GetMessage below.
#include <windows.h>

#include <string>

namespace OS {

class CReturnValueObj {
public:
    CReturnValueObj() = default;
    CReturnValueObj(int code, int auxValue) : m_nCode(code), m_nAuxValue(auxValue) {}
    CReturnValueObj(const CReturnValueObj&) = default;
    CReturnValueObj& operator=(const CReturnValueObj&) = default;

    virtual ~CReturnValueObj();
    virtual void SetCode(int code);
    virtual void SetAuxValue(int auxValue);
    // A null text empties the message.
    virtual void SetMessage(const wchar_t* message);
    virtual int GetCode() const;
    virtual int GetAuxValue() const;
    virtual std::wstring GetMessage() const;

protected:
    int m_nCode = 0;
    int m_nAuxValue = 0;
    std::wstring m_strMessage;
};

class CException : public CReturnValueObj {
public:
    // sourcePath may be null (empty file name); only its file name and extension are kept.
    CException(int code, const wchar_t* sourcePath, int line, int auxValue);
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;

    ~CException() override;
    virtual int GetErrorCode() const;
    // "message, (code), [file|line]", or just the message when there is no file name.
    virtual std::wstring GetDescription() const;

    const std::wstring& GetFileName() const { return m_strFileName; }
    int GetLine() const { return m_nLine; }

protected:
    std::wstring m_strFileName;
    int m_nLine = 0;
};

// File name plus extension of a path ("D:\\work\\demo.txt" -> "demo.txt"), split the
// way the platform splits paths, name and extension each cut to 255 characters.
// A null path gives the empty text.
std::wstring ExtractFileName(const wchar_t* sourcePath);

}  // namespace OS
