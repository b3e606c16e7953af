// Tab-separated command texts: built field by field for the services' pipes and
// parsed field by field from their answers. No escaping: a TAB inside a field
// splits it when the text is parsed.
#pragma once
#include <string>

namespace plm {

class CCmdProtocol {
public:
    // Receives one field: text[start .. start + length). start and length are -1
    // when there is no field left.
    typedef void (*FieldCallback)(void* user, const wchar_t* text, int start, int length);

    // Empty builder.
    CCmdProtocol();
    // Parser over a copy of text: byteLength -1 means up to the NUL, otherwise
    // byteLength / 2 characters (embedded NULs included). A null text is empty.
    CCmdProtocol(const wchar_t* text, int byteLength);
    virtual ~CCmdProtocol();

    // Appends one field; a null text gives an empty field. With length given
    // (not -1) exactly that many characters are taken, NULs included.
    CCmdProtocol& AddField(const wchar_t* text, int length = -1);
    CCmdProtocol& AddInt(int value);
    CCmdProtocol& AddUInt(unsigned value);

    // Hands the next field to callback and moves past it.
    void NextField(FieldCallback callback, void* user);
    // Next field converted with _wtoi (at most its first 19 characters); 0 when
    // there is none.
    void NextInt(int& value);
    // Next field as a string; false (and value cleared) when there is none.
    bool NextString(std::wstring& value);

    const wchar_t* GetText() const { return m_text.c_str(); }
    int GetLength() const { return static_cast<int>(m_text.size()); }

private:
    std::wstring m_separator;
    std::wstring m_text;
    size_t m_readPos;
    bool m_first;
};

}  // namespace plm

// The log client and the add-on service units use the same class outside the namespace.
using plm::CCmdProtocol;
