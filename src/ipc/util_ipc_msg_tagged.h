// Tagged values: a variant streamed through a CIPCMsgBuffer as its 2-byte VARTYPE
// followed by a body that depends on the type:
//   VT_I2, VT_UI2                    16-bit integer
//   VT_I4, VT_UI4, VT_INT, VT_UINT   32-bit integer
//   VT_BOOL                          32-bit 0 or 1
//   VT_BSTR, VT_LPSTR, VT_LPWSTR     text (the value as wide text)
//   VT_DATE                          36-byte date record (nine int32, below)
//   VT_ARRAY | VT_UI1 (8209)         unsigned 32-bit count, then that many bytes
//   any other type                   nothing, the tag stands alone
// Date record: seconds, minutes, hours, day, month (0-11), year - 1900, day of
// week 0, day of year 0, daylight flag -1.
#pragma once
#include "foundation/var_CVar.h"
#include "ipc/util_ipc_msg_buffer.h"

// Appends the tag and body of value. Atomic: on any failure (_com_error from a
// conversion, CIPCMsgBufferException "Not owner", std::bad_alloc) nothing is written.
void IPCMsg_PutTaggedVar(CIPCMsgBuffer& buffer, const CVar& value);

// Reads a tag and its body into value. Tags without a body give VT_EMPTY (the type
// carries no value to restore). VT_LPSTR/VT_LPWSTR come back as VT_BSTR.
// Atomic: on failure (CIPCMsgBufferException "Out of range"/"Invalid buffer", or
// _com_error(E_INVALIDARG) for a date record that names no valid date) the
// buffer's read position and value are unchanged.
void IPCMsg_GetTaggedVar(CIPCMsgBuffer& buffer, CVar& value);

// Reads the body of a date record (the nine int32 fields above) into value as
// VT_DATE. False, value unchanged, when the fields name no valid date; the record
// is read either way. Day of week, day of year and daylight flag do not change
// the date. A buffer that ends first throws CIPCMsgBufferException.
bool IPCMsg_GetDateRecord(CIPCMsgBuffer& buffer, CVar& value);

// True for the types whose tag stands alone on the wire (no body follows).
bool IPCMsg_IsBodilessTag(VARTYPE tag);
