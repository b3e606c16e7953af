#include "ipc/util_ipc_msg_tagged.h"

#include <cstring>

namespace {
const VARTYPE kByteArray = VT_ARRAY | VT_UI1;
const int kDateFieldCount = 9;

// The year field is always the year minus 1900, negative before 1900: dates from
// 1900 on keep their usual bytes, and every date survives the reader's "+ 1900".
void PutDateRecord(CIPCMsgBuffer& out, DATE date) {
    SYSTEMTIME st = {};
    if (!VariantTimeToSystemTime(date, &st)) _com_issue_error(E_INVALIDARG);
    const int fields[kDateFieldCount] = {
        st.wSecond, st.wMinute, st.wHour, st.wDay, st.wMonth == 0 ? 0 : st.wMonth - 1, st.wYear - 1900, 0, 0, -1};
    for (int field : fields) out.PutInt32(field);
}

CVar GetDateRecord(CIPCMsgBuffer& in) {
    CVar value;
    if (!IPCMsg_GetDateRecord(in, value)) _com_issue_error(E_INVALIDARG);
    return value;
}

void PutBody(CIPCMsgBuffer& out, const CVar& value) {
    switch (value.Type()) {
    case VT_I2:
        out.PutInt16(value.iVal);
        break;
    case VT_UI2:
        out.PutUInt16(value.uiVal);
        break;
    case VT_I4:
        out.PutInt32(value.lVal);
        break;
    case VT_UI4:
        out.PutUInt32(value.ulVal);
        break;
    case VT_INT:
        out.PutInt32(value.intVal);
        break;
    case VT_UINT:
        out.PutUInt32(value.uintVal);
        break;
    case VT_BOOL:
        out.PutBool(value.boolVal != VARIANT_FALSE);
        break;
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR:
        out.PutText(value.GetText());
        break;
    case VT_DATE:
        PutDateRecord(out, value.date);
        break;
    case kByteArray: {
        const std::vector<BYTE> bytes = value.GetBytes();
        out.PutUInt32(static_cast<unsigned>(bytes.size()));
        if (!bytes.empty()) out.PutBytes(bytes.data(), static_cast<unsigned>(bytes.size()));
        break;
    }
    default:
        break;
    }
}

// Variants of the unsigned kinds, for which CVar has no constructor.
CVar MakeUnsigned16(unsigned short v) {
    VARIANT raw;
    VariantInit(&raw);
    V_VT(&raw) = VT_UI2;
    V_UI2(&raw) = v;
    return CVar(raw);
}

CVar MakeUnsigned32(VARTYPE tag, unsigned v) {
    VARIANT raw;
    VariantInit(&raw);
    V_VT(&raw) = tag;
    if (tag == VT_UI4)
        V_UI4(&raw) = v;
    else if (tag == VT_INT)
        V_INT(&raw) = static_cast<int>(v);
    else
        V_UINT(&raw) = v;
    return CVar(raw);
}

CVar GetBody(CIPCMsgBuffer& in, VARTYPE tag) {
    switch (tag) {
    case VT_I2: {
        short v;
        in.GetInt16(v);
        return CVar(v);
    }
    case VT_UI2: {
        unsigned short v;
        in.GetUInt16(v);
        return MakeUnsigned16(v);
    }
    case VT_I4: {
        int v;
        in.GetInt32(v);
        return CVar(v);
    }
    case VT_UI4:
    case VT_INT:
    case VT_UINT: {
        unsigned v;
        in.GetUInt32(v);
        return MakeUnsigned32(tag, v);
    }
    case VT_BOOL: {
        bool v;
        in.GetBool(v);
        return CVar(v);
    }
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR: {
        std::wstring v;
        in.GetText(v);
        return CVar(v);
    }
    case VT_DATE:
        return GetDateRecord(in);
    case kByteArray: {
        unsigned count;
        in.GetUInt32(count);
        std::vector<BYTE> bytes;
        in.GetBytes(count, bytes);
        return CVar(bytes);
    }
    default:
        return CVar();
    }
}
}  // namespace

bool IPCMsg_GetDateRecord(CIPCMsgBuffer& buffer, CVar& value) {
    int fields[kDateFieldCount];
    for (int& field : fields) buffer.GetInt32(field);
    struct tm time = {};
    time.tm_sec = fields[0];
    time.tm_min = fields[1];
    time.tm_hour = fields[2];
    time.tm_mday = fields[3];
    time.tm_mon = fields[4];
    time.tm_year = fields[5];
    time.tm_wday = fields[6];
    time.tm_yday = fields[7];
    time.tm_isdst = fields[8];
    return value.FromTm(time) != 0;
}

bool IPCMsg_IsBodilessTag(VARTYPE tag) {
    switch (tag) {
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_DATE:
    case kByteArray:
        return false;
    default:
        return true;
    }
}

void IPCMsg_PutTaggedVar(CIPCMsgBuffer& buffer, const CVar& value) {
    // Encoded aside first, so that a failing conversion writes nothing at all.
    CIPCMsgBuffer encoded(64);
    encoded.PutUInt16(value.Type());
    PutBody(encoded, value);
    buffer.Append(encoded.GetData(), encoded.BytesUsed());
}

void IPCMsg_GetTaggedVar(CIPCMsgBuffer& buffer, CVar& value) {
    const CIPCMsgBuffer::SReadMark mark = buffer.Mark();
    try {
        unsigned short tag;
        buffer.GetUInt16(tag);
        CVar result = GetBody(buffer, tag);
        value = result;
    } catch (...) {
        buffer.Restore(mark);
        throw;
    }
}
