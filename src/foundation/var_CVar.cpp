#include "foundation/var_CVar.h"

#include <cstring>
#include <new>

// Text produced for a non-text value; copies of a CVar share it, possibly across threads.
struct CVar::SSharedText {
    volatile LONG nRefs;
    BSTR text;
};

namespace {
// Owner of a temporary VARIANT used for conversions.
class CTempVariant {
public:
    CTempVariant() { VariantInit(&m_value); }
    ~CTempVariant() { VariantClear(&m_value); }
    CTempVariant(const CTempVariant&) = delete;
    CTempVariant& operator=(const CTempVariant&) = delete;
    VARIANT* get() { return &m_value; }

private:
    VARIANT m_value;
};

void ChangeTypeInto(CTempVariant& out, const VARIANT& in, VARTYPE type) {
    const HRESULT hr = VariantChangeType(out.get(), const_cast<VARIANT*>(&in), 0, type);
    if (FAILED(hr)) _com_issue_error(hr);
}

// Owner of a locked SAFEARRAY's data.
class CArrayAccess {
public:
    explicit CArrayAccess(SAFEARRAY* array) : m_array(array) {
        const HRESULT hr = SafeArrayAccessData(array, &m_data);
        if (FAILED(hr)) _com_issue_error(hr);
    }
    ~CArrayAccess() { SafeArrayUnaccessData(m_array); }
    CArrayAccess(const CArrayAccess&) = delete;
    CArrayAccess& operator=(const CArrayAccess&) = delete;
    BYTE* data() const { return static_cast<BYTE*>(m_data); }

private:
    SAFEARRAY* m_array;
    void* m_data = nullptr;
};
}  // namespace

CVar::CVar(const wchar_t* text) : _variant_t(text) {}
CVar::CVar(const std::wstring& text) : _variant_t(text.c_str()) {}
CVar::CVar(short value) : _variant_t(value, VT_I2) {}
CVar::CVar(int value) : _variant_t(static_cast<long>(value), VT_I4) {}
CVar::CVar(long value) : _variant_t(value, VT_I4) {}
CVar::CVar(bool value) : _variant_t(value) {}
CVar::CVar(const VARIANT& value) : _variant_t(value) {}
CVar::CVar(const CVar& other) : _variant_t(static_cast<const _variant_t&>(other)) {
    m_pCachedText = other.m_pCachedText;
    if (m_pCachedText) InterlockedIncrement(&m_pCachedText->nRefs);
}

CVar::CVar(const std::vector<BYTE>& bytes) {
    if (bytes.size() > ULONG_MAX) _com_issue_error(E_OUTOFMEMORY);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array == nullptr) _com_issue_error(E_OUTOFMEMORY);
    if (!bytes.empty()) {
        try {
            CArrayAccess access(array);
            std::memcpy(access.data(), bytes.data(), bytes.size());
        } catch (...) {
            SafeArrayDestroy(array);
            throw;
        }
    }
    vt = VT_ARRAY | VT_UI1;
    parray = array;
}

CVar& CVar::operator=(const CVar& other) {
    if (this == &other) return *this;
    _variant_t::operator=(static_cast<const _variant_t&>(other));
    if (other.m_pCachedText) InterlockedIncrement(&other.m_pCachedText->nRefs);
    ReleaseCachedText();
    m_pCachedText = other.m_pCachedText;
    return *this;
}

CVar& CVar::operator=(const VARIANT& value) {
    _variant_t::operator=(value);
    ReleaseCachedText();
    return *this;
}

CVar::~CVar() { ReleaseCachedText(); }

void CVar::ReleaseCachedText() const {
    SSharedText* shared = m_pCachedText;
    m_pCachedText = nullptr;
    if (shared && InterlockedDecrement(&shared->nRefs) == 0) {
        SysFreeString(shared->text);
        delete shared;
    }
}

CVar CVar::FromDate(DATE date) {
    CVar value;
    value.vt = VT_DATE;
    value.date = date;
    return value;
}

short CVar::GetInt16() const {
    if (vt == VT_I2) return iVal;
    CTempVariant converted;
    ChangeTypeInto(converted, *this, VT_I2);
    return V_I2(converted.get());
}

int CVar::GetInt32() const {
    if (vt == VT_I4) return lVal;
    CTempVariant converted;
    ChangeTypeInto(converted, *this, VT_I4);
    return V_I4(converted.get());
}

bool CVar::GetBool() const {
    if (vt == VT_BOOL) return boolVal != VARIANT_FALSE;
    CTempVariant converted;
    ChangeTypeInto(converted, *this, VT_BOOL);
    return V_BOOL(converted.get()) == VARIANT_TRUE;
}

DATE CVar::GetDate() const {
    if (vt == VT_DATE) return date;
    CTempVariant converted;
    ChangeTypeInto(converted, *this, VT_DATE);
    return V_DATE(converted.get());
}

const wchar_t* CVar::GetText() const {
    if (vt == VT_BSTR) return bstrVal ? bstrVal : L"";
    CTempVariant converted;
    ChangeTypeInto(converted, *this, VT_BSTR);
    SSharedText* shared = new (std::nothrow) SSharedText{1, nullptr};
    if (shared == nullptr) _com_issue_error(E_OUTOFMEMORY);
    // Takes the converted BSTR over; the temporary is left empty.
    // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): _com_issue_error throws but is not declared noreturn
    shared->text = V_BSTR(converted.get());
    V_VT(converted.get()) = VT_EMPTY;
    ReleaseCachedText();
    m_pCachedText = shared;
    return shared->text ? shared->text : L"";
}

std::vector<BYTE> CVar::GetBytes() const {
    if (vt != (VT_ARRAY | VT_UI1) || parray == nullptr || SafeArrayGetDim(parray) != 1) {
        return std::vector<BYTE>();
    }
    const ULONG count = parray->rgsabound[0].cElements;
    if (count == 0) return std::vector<BYTE>();
    CArrayAccess access(parray);
    return std::vector<BYTE>(access.data(), access.data() + count);
}

bool CVar::ToTm(struct tm& out) const {
    std::memset(&out, 0, sizeof(out));
    out.tm_isdst = -1;
    SYSTEMTIME st = {};
    if (!VariantTimeToSystemTime(GetDate(), &st)) return false;
    out.tm_sec = st.wSecond;
    out.tm_min = st.wMinute;
    out.tm_hour = st.wHour;
    out.tm_mday = st.wDay;
    out.tm_mon = st.wMonth == 0 ? 0 : st.wMonth - 1;
    out.tm_year = st.wYear >= 1900 ? st.wYear - 1900 : st.wYear;
    return true;
}

namespace {
bool ToWord(long long value, WORD& out) {
    if (value < 0 || value > 0xFFFF) return false;
    out = static_cast<WORD>(value);
    return true;
}
}  // namespace

int CVar::FromTm(const struct tm& in) {
    SYSTEMTIME st = {};
    // Fields that no SYSTEMTIME can hold fail here instead of wrapping into another date.
    const bool fits = ToWord(static_cast<long long>(in.tm_year) + 1900, st.wYear) &&
                      ToWord(static_cast<long long>(in.tm_mon) + 1, st.wMonth) && ToWord(in.tm_mday, st.wDay) &&
                      ToWord(in.tm_hour, st.wHour) && ToWord(in.tm_min, st.wMinute) && ToWord(in.tm_sec, st.wSecond);
    if (!fits) return 0;
    // The day of the week is no part of the date (the conversion ignores it), so an
    // unset or odd one (-1 from a hand-filled tm or a streamed record) must not
    // turn a valid date into a failure.
    if (!ToWord(in.tm_wday, st.wDayOfWeek)) st.wDayOfWeek = 0;
    DATE value = 0;
    const int result = SystemTimeToVariantTime(&st, &value);
    if (result != 0) *this = FromDate(value);
    return result;
}
