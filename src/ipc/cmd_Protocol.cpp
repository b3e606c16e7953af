#include "ipc/cmd_Protocol.h"

#include <cstdlib>
#include <cwchar>
#include <string>

namespace plm {

namespace {
const size_t kInitialCapacity = 1024;
const size_t kIntFieldChars = 20;

struct SCopyTarget {
    wchar_t* buffer;
    size_t capacity;
};

// Copies at most capacity - 1 characters of the field and terminates them.
void CopyFieldCallback(void* user, const wchar_t* text, int start, int length) {
    SCopyTarget* target = static_cast<SCopyTarget*>(user);
    size_t count = 0;
    if (start >= 0 && length > 0) {
        count = static_cast<size_t>(length);
        if (count > target->capacity - 1) count = target->capacity - 1;
        wmemcpy(target->buffer, text + start, count);
    }
    target->buffer[count] = L'\0';
}

struct SStringTarget {
    std::wstring* value;
    bool found;
};

void StringFieldCallback(void* user, const wchar_t* text, int start, int length) {
    SStringTarget* target = static_cast<SStringTarget*>(user);
    target->found = start >= 0;
    if (target->found)
        target->value->assign(text + start, static_cast<size_t>(length));
    else
        target->value->clear();
}
}  // namespace

CCmdProtocol::CCmdProtocol() : m_separator(L"\t"), m_readPos(0), m_first(true) { m_text.reserve(kInitialCapacity); }

CCmdProtocol::CCmdProtocol(const wchar_t* text, int byteLength) : m_separator(L"\t"), m_readPos(0), m_first(true) {
    if (text != nullptr) {
        if (byteLength == -1)
            m_text.assign(text);
        else if (byteLength > 0)
            m_text.assign(text, static_cast<size_t>(byteLength) / 2);
    }
    m_first = m_text.empty();
}

CCmdProtocol::~CCmdProtocol() = default;

CCmdProtocol& CCmdProtocol::AddField(const wchar_t* text, int length) {
    size_t cch = 0;
    if (length >= 0)
        cch = static_cast<size_t>(length);
    else if (length == -1 && text != nullptr)
        cch = wcslen(text);
    const size_t room = m_text.capacity() - m_text.size();
    if (room < cch + m_separator.size()) m_text.reserve(m_text.capacity() * 2);
    if (m_first)
        m_first = false;
    else
        m_text.append(m_separator);
    if (text != nullptr) m_text.append(text, cch);
    return *this;
}

CCmdProtocol& CCmdProtocol::AddInt(int value) { return AddField(std::to_wstring(value).c_str()); }

CCmdProtocol& CCmdProtocol::AddUInt(unsigned value) { return AddField(std::to_wstring(value).c_str()); }

void CCmdProtocol::NextField(FieldCallback callback, void* user) {
    const size_t length = m_text.size();
    if (m_readPos >= length) {
        callback(user, m_text.c_str(), -1, -1);
        return;
    }
    const size_t sep = m_text.find(m_separator[0], m_readPos);
    const size_t end = sep == std::wstring::npos ? length : sep;
    callback(user, m_text.c_str(), static_cast<int>(m_readPos), static_cast<int>(end - m_readPos));
    m_readPos = sep == std::wstring::npos ? length : sep + 1;
}

void CCmdProtocol::NextInt(int& value) {
    wchar_t digits[kIntFieldChars];
    SCopyTarget target = {digits, kIntFieldChars};
    NextField(&CopyFieldCallback, &target);
    value = _wtoi(digits);
}

bool CCmdProtocol::NextString(std::wstring& value) {
    SStringTarget target = {&value, false};
    NextField(&StringFieldCallback, &target);
    return target.found;
}

}  // namespace plm
