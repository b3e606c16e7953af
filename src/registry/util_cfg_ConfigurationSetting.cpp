#include "registry/util_cfg_ConfigurationSetting.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "foundation/mbwc_MBWC.h"
#include "ipc/util_ipc_msg_tagged.h"

namespace {
const wchar_t kSourceFile[] = L".\\util_cfg_ConfigurationSetting";
const int kAuxValue = 4;

wchar_t FoldAZ(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

[[noreturn]] void RaiseFieldNotExist(int line, int fieldId) {
    throw CCfgException(CCfgException::kFieldNotExist, kSourceFile, line, kAuxValue, fieldId);
}

// The stream keeps integer kinds signed: unsigned and machine-sized ones come back
// as the signed kind of their width, with the same bits.
CVar NormalizeStreamed(const CVar& value) {
    switch (value.vt) {
    case VT_UI2:
        return CVar(static_cast<short>(value.uiVal));
    case VT_UI4:
        return CVar(static_cast<long>(value.ulVal));
    case VT_INT:
        return CVar(static_cast<long>(value.intVal));
    case VT_UINT:
        return CVar(static_cast<long>(value.uintVal));
    default:
        return value;
    }
}

// Integers go out coerced to the signed kind of their width, so a value that does
// not fit (an unsigned 32-bit value above 2147483647) fails before anything is written.
// The unsigned range is checked here: Wine's VariantChangeType wraps such values
// where Windows reports an overflow.
void CheckStreamable(const CVar& value) {
    switch (value.vt) {
    case VT_UI2:
        if (value.uiVal > 0x7FFF) _com_issue_error(DISP_E_OVERFLOW);
        break;
    case VT_UI4:
    case VT_UINT:
        if (value.ulVal > 0x7FFFFFFF) _com_issue_error(DISP_E_OVERFLOW);
        break;
    default:
        break;
    }
}

// A date record that names no valid date becomes the OLE date 0.0, as when set.
CVar ReadDateBody(CIPCMsgBuffer& buf) {
    CVar date = CVar::FromDate(0.0);
    IPCMsg_GetDateRecord(buf, date);
    return date;
}

CVar ReadTagged(CIPCMsgBuffer& buf) {
    const CIPCMsgBuffer::SReadMark mark = buf.Mark();
    unsigned short tag = 0;
    buf.GetUInt16(tag);
    if (tag == VT_DATE) {
        try {
            return ReadDateBody(buf);
        } catch (...) {
            buf.Restore(mark);
            throw;
        }
    }
    buf.Restore(mark);
    CVar value;
    IPCMsg_GetTaggedVar(buf, value);
    return NormalizeStreamed(value);
}

}  // namespace

int CfgCompareNames(const std::wstring& a, const std::wstring& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const wchar_t ca = FoldAZ(a[i]);
        const wchar_t cb = FoldAZ(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

CStreamable::~CStreamable() = default;
CCfgException::~CCfgException() = default;

std::wstring CCfgException::GetCodeText() const {
    wchar_t text[64] = {};
    switch (GetErrorCode()) {
    case kInvalidSubject:
        return L"Subject id configuration is invalid formula.";
    case kFieldType:
        return L"Field type is incorrect.";
    case kFieldNotExist:
        _snwprintf_s(text, 64, _TRUNCATE, L"Field ID 0x%08x is not exist.", m_nFieldId);
        return text;
    case kFieldFormat:
        _snwprintf_s(text, 64, _TRUNCATE, L"Data of Field ID 0x%08x is not valid format.", m_nFieldId);
        return text;
    default:
        return std::wstring();
    }
}

CCfgSettingCategoryBase::CFieldInfoCallback::~CFieldInfoCallback() = default;
CCfgSettingCategoryBase::~CCfgSettingCategoryBase() = default;

bool CCfgSettingCategoryBase::CInternalFieldInfoCB::OnField(int fieldId, const std::wstring& name, const CVar& value,
                                                            bool) {
    if (m_bCopyMode) return m_pTarget->SetVariantByName(name, value, false);
    if (fieldId != m_nFieldId) return true;
    m_strFieldName = name;
    return false;
}

// ---- stream form ----------------------------------------------------------

// The category is encoded aside and appended whole, so a field that cannot be
// streamed leaves the caller's buffer as it was instead of a count without its fields.
void CCfgSettingCategoryBase::Serialize(CIPCMsgBuffer& buf) {
    CIPCMsgBuffer encoded;
    encoded.PutBool(m_bModified);
    encoded.PutInt32(static_cast<int>(m_mapFields.size()));
    for (const auto& field : m_mapFields) {
        CheckStreamable(field.second.varValue);
        encoded.PutText(field.first);
        IPCMsg_PutTaggedVar(encoded, field.second.varValue);
    }
    if (encoded.BytesUsed() != 0) buf.Append(encoded.GetData(), encoded.BytesUsed());
}

void CCfgSettingCategoryBase::Deserialize(CIPCMsgBuffer& buf) {
    bool flag = false;
    int count = 0;
    buf.GetBool(flag);
    buf.GetInt32(count);
    for (int i = 0; i < count; ++i) {
        std::wstring name;
        buf.GetText(name);
        const CVar value = ReadTagged(buf);
        SetVariantByName(name, value, false);
    }
    m_bModified = flag;
}

// ---- field ids --------------------------------------------------------------

std::wstring CCfgSettingCategoryBase::GetFieldName(int fieldId) {
    CInternalFieldInfoCB search(this, fieldId);
    EnumFieldInfo(search);
    return search.FoundName();
}

void CCfgSettingCategoryBase::EnumFieldInfo(CFieldInfoCallback& callback) { EnumFieldValues(callback); }

void CCfgSettingCategoryBase::EnumFieldValues(CFieldInfoCallback& callback) {
    for (const auto& field : m_mapFields)
        callback.OnField(kEnumFieldId, field.first, field.second.varValue, field.second.bModified);
}

CVar CCfgSettingCategoryBase::GetValue(int fieldId) {
    CVar value;
    if (!GetVariant(fieldId, &value)) RaiseFieldNotExist(__LINE__, fieldId);
    if (value.vt == VT_BSTR) return CVar(value.GetText());
    return value;
}

void CCfgSettingCategoryBase::SetValue(int fieldId, const CVar& value) {
    if (!SetVariant(fieldId, value, false)) RaiseFieldNotExist(__LINE__, fieldId);
}

// ---- setters ----------------------------------------------------------------

bool CCfgSettingCategoryBase::SetTemp(int fieldId, const CVar& temp) {
    const bool set = SetVariant(fieldId, temp, false);
    if (set) m_bModified = true;
    return set;
}

bool CCfgSettingCategoryBase::SetString(int fieldId, const std::wstring& text) { return SetTemp(fieldId, CVar(text)); }

bool CCfgSettingCategoryBase::SetText(int fieldId, const std::wstring& text) { return SetString(fieldId, text); }

bool CCfgSettingCategoryBase::SetString(int fieldId, const wchar_t* text) { return SetTemp(fieldId, CVar(text)); }

bool CCfgSettingCategoryBase::SetString(int fieldId, const char* text) {
    if (!text) return SetTemp(fieldId, CVar(static_cast<const wchar_t*>(nullptr)));
    std::wstring wide;
    if (*text && MBWC::MBToWC(text, wide, CP_ACP, 0, nullptr) == 0) return false;
    return SetTemp(fieldId, CVar(wide));
}

bool CCfgSettingCategoryBase::SetTime(int fieldId, const tm* time) {
    if (!time) return false;
    CVar date = CVar::FromDate(0.0);
    date.FromTm(*time);
    return SetTemp(fieldId, date);
}

bool CCfgSettingCategoryBase::SetBinary(int fieldId, const void* data, int size) {
    if (size < 0 || (size > 0 && !data)) return false;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return SetTemp(fieldId, CVar(std::vector<BYTE>(bytes, bytes + size)));
}

bool CCfgSettingCategoryBase::SetBool(int fieldId, bool value) { return SetTemp(fieldId, CVar(value)); }
bool CCfgSettingCategoryBase::SetLong(int fieldId, long value) { return SetTemp(fieldId, CVar(value)); }
bool CCfgSettingCategoryBase::SetShort(int fieldId, short value) { return SetTemp(fieldId, CVar(value)); }

bool CCfgSettingCategoryBase::SetVariant(int fieldId, const CVar& value, bool bModified) {
    const std::wstring name = GetFieldName(fieldId);
    if (name.empty()) return false;
    const bool set = SetVariantByName(name, value, bModified);
    m_bModified = true;
    return set;
}

bool CCfgSettingCategoryBase::SetVariantByName(const std::wstring& name, const CVar& value, bool bModified) {
    // A failed copy (out of memory) throws before the map changes.
    const auto found = m_mapFields.find(name);
    if (found == m_mapFields.end()) {
        m_mapFields.emplace(name, SFieldValue{value, bModified});
    } else {
        found->second.varValue = value;
        found->second.bModified = bModified;
    }
    m_bModified = true;
    return true;
}

void CCfgSettingCategoryBase::RemoveField(const std::wstring& name) { m_mapFields.erase(name); }

// ---- getters ----------------------------------------------------------------

bool CCfgSettingCategoryBase::GetVariant(int fieldId, CVar* out) {
    const std::wstring name = GetFieldName(fieldId);
    if (name.empty()) return false;
    return GetVariantByName(name, out);
}

bool CCfgSettingCategoryBase::QueryVariant(int fieldId, CVar* out) { return GetVariant(fieldId, out); }

bool CCfgSettingCategoryBase::GetVariantByName(const std::wstring& name, CVar* out) {
    const auto found = m_mapFields.find(name);
    if (found == m_mapFields.end() || !out) return false;
    *out = found->second.varValue;
    return true;
}

bool CCfgSettingCategoryBase::GetStoredText(int fieldId, std::wstring& text) {
    CVar value;
    if (!GetVariant(fieldId, &value) || value.vt != VT_BSTR) return false;
    text = value.bstrVal ? value.bstrVal : L"";
    return true;
}

bool CCfgSettingCategoryBase::GetStringW(int fieldId, wchar_t* buf, int* len) {
    std::wstring text;
    if (!len || !GetStoredText(fieldId, text)) return false;
    const size_t needed = text.size() + 1;
    if (needed > 0x7FFFFFFF) return false;
    if (!buf) {
        *len = static_cast<int>(needed);
        return true;
    }
    if (*len < 0 || static_cast<size_t>(*len) < needed) return false;
    *len = static_cast<int>(needed);
    memcpy(buf, text.c_str(), needed * sizeof(wchar_t));
    return true;
}

bool CCfgSettingCategoryBase::GetStringA(int fieldId, char* buf, int* len) {
    std::wstring text;
    if (!len || !GetStoredText(fieldId, text)) return false;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    if (!buf) {
        *len = needed;
        return true;
    }
    if (*len < needed) return false;
    std::vector<char> narrow(needed);
    if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), needed, nullptr, nullptr) != needed)
        return false;
    *len = needed;
    memcpy(buf, narrow.data(), needed);
    return true;
}

bool CCfgSettingCategoryBase::GetString(int fieldId, std::wstring& out) {
    int len = 0;
    if (!GetStringW(fieldId, nullptr, &len) || len < 1) return false;
    std::vector<wchar_t> buffer(len);
    if (!GetStringW(fieldId, buffer.data(), &len)) return false;
    out.assign(buffer.data());
    return true;
}

bool CCfgSettingCategoryBase::QueryString(int fieldId, std::wstring& out) { return GetString(fieldId, out); }

bool CCfgSettingCategoryBase::GetTime(int fieldId, tm* out) {
    CVar value;
    if (!out || !GetVariant(fieldId, &value) || value.vt != VT_DATE) return false;
    tm time = {};
    if (!value.ToTm(time)) return false;
    *out = time;
    return true;
}

bool CCfgSettingCategoryBase::GetBinary(int fieldId, void* buf, int* size) {
    CVar value;
    if (!size || !GetVariant(fieldId, &value)) return false;
    const std::vector<BYTE> bytes = value.GetBytes();
    if (bytes.size() > 0x7FFFFFFF) return false;
    const int needed = static_cast<int>(bytes.size());
    if (!buf) {
        *size = needed;
        return true;
    }
    if (*size < needed) return false;
    *size = needed;
    if (needed > 0) memcpy(buf, bytes.data(), bytes.size());
    return true;
}

bool CCfgSettingCategoryBase::GetBool(int fieldId, bool* out) {
    CVar value;
    if (!out || !GetVariant(fieldId, &value)) return false;
    _variant_t coerced;
    coerced.ChangeType(VT_BOOL, &value);
    *out = coerced.boolVal == VARIANT_TRUE;
    return true;
}

bool CCfgSettingCategoryBase::GetLong(int fieldId, long* out) {
    CVar value;
    if (!out || !GetVariant(fieldId, &value)) return false;
    *out = value.GetInt32();
    return true;
}

bool CCfgSettingCategoryBase::GetShort(int fieldId, short* out) {
    CVar value;
    if (!out || !GetVariant(fieldId, &value)) return false;
    *out = value.GetInt16();
    return true;
}
