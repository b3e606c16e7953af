#include "ipc/util_ipc_msg_buffer.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {
const wchar_t kSourceFile[] = L".\\util_ipc_msg_buffer";
const int kAuxValue = 4;

[[noreturn]] void Raise(int code, int line) { throw CIPCMsgBufferException(code, kSourceFile, line, kAuxValue); }

// Storage block for n bytes; n of 0 gives no block.
BYTE* AllocateStorage(unsigned n) { return n == 0 ? nullptr : new BYTE[n]; }
}  // namespace

// --- CIPCMsgBufferException -------------------------------------------------------

CIPCMsgBufferException::~CIPCMsgBufferException() = default;

std::wstring CIPCMsgBufferException::GetCodeText() const {
    switch (GetErrorCode()) {
    case kOutOfRange:
        return L"Out of range";
    case kInvalidBuffer:
        return L"Invalid buffer";
    case kNotOwner:
        return L"Not owner";
    default:
        return std::wstring();
    }
}

// --- CAccBuffer -------------------------------------------------------------------

CAccBuffer::CAccBuffer(unsigned growthUnit) : m_cbGrowthUnit(growthUnit == 0 ? kDefaultGrowthUnit : growthUnit) {}

CAccBuffer::CAccBuffer(const void* bytes, unsigned cb, SBorrow)
    : m_pStorage(static_cast<BYTE*>(const_cast<void*>(bytes))),
      m_cbCapacity(bytes ? cb : 0),
      m_cbUsed(bytes ? cb : 0),
      m_bOwner(false) {}

CAccBuffer::CAccBuffer(const CAccBuffer& other) { CopyFrom(other); }

CAccBuffer& CAccBuffer::operator=(const CAccBuffer& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CAccBuffer::~CAccBuffer() {
    if (m_bOwner) delete[] m_pStorage;
}

// Allocates first so that a failed allocation leaves this buffer as it was.
void CAccBuffer::CopyFrom(const CAccBuffer& other) {
    BYTE* storage = AllocateStorage(other.m_pStorage ? other.m_cbCapacity : 0);
    if (storage && other.m_cbUsed != 0) std::memcpy(storage, other.m_pStorage, other.m_cbUsed);
    if (m_bOwner) delete[] m_pStorage;
    m_pStorage = storage;
    m_cbCapacity = storage ? other.m_cbCapacity : 0;
    m_cbUsed = storage ? other.m_cbUsed : 0;
    m_bOwner = true;
}

void CAccBuffer::Append(const void* bytes, unsigned n) {
    if (!m_bOwner) Raise(CIPCMsgBufferException::kNotOwner, __LINE__);
    if (n == 0) return;
    if (m_cbCapacity - m_cbUsed >= n) {
        std::memcpy(m_pStorage + m_cbUsed, bytes, n);
        m_cbUsed += n;
        return;
    }
    // Whole growth units, computed wide so that a huge n cannot wrap to a small block.
    const uint64_t capacity = (((uint64_t)m_cbCapacity + n) / m_cbGrowthUnit + 1) * m_cbGrowthUnit;
    if (capacity > UINT32_MAX || capacity > SIZE_MAX) throw std::bad_alloc();
    BYTE* storage = AllocateStorage(static_cast<unsigned>(capacity));
    if (m_pStorage && m_cbUsed != 0) std::memcpy(storage, m_pStorage, m_cbUsed);
    std::memcpy(storage + m_cbUsed, bytes, n);
    delete[] m_pStorage;
    m_pStorage = storage;
    m_cbCapacity = static_cast<unsigned>(capacity);
    m_cbUsed += n;
}

// --- CIPCMsgBuffer: construction ----------------------------------------------------

CIPCMsgBuffer CIPCMsgBuffer::Borrow(const void* bytes, unsigned cb) { return CIPCMsgBuffer(bytes, cb, SBorrow{}); }

CIPCMsgBuffer::CIPCMsgBuffer(const CIPCMsgBuffer& other)
    : CAccBuffer(other), m_nReadPos(other.m_nReadPos), m_nLastReadPos(other.m_nLastReadPos) {}

CIPCMsgBuffer& CIPCMsgBuffer::operator=(const CIPCMsgBuffer& other) {
    if (this == &other) return *this;
    CAccBuffer::operator=(other);
    m_nReadPos = other.m_nReadPos;
    m_nLastReadPos = other.m_nLastReadPos;
    return *this;
}

CIPCMsgBuffer::~CIPCMsgBuffer() = default;

// --- CIPCMsgBuffer: writes -----------------------------------------------------------

CIPCMsgBuffer& CIPCMsgBuffer::PutBool(bool value) { return PutInt32(value ? 1 : 0); }

CIPCMsgBuffer& CIPCMsgBuffer::PutInt16(short value) { return PutUInt16(static_cast<unsigned short>(value)); }

CIPCMsgBuffer& CIPCMsgBuffer::PutUInt16(unsigned short value) {
    const BYTE bytes[2] = {BYTE(value & 0xFF), BYTE(value >> 8)};
    Append(bytes, sizeof(bytes));
    return *this;
}

CIPCMsgBuffer& CIPCMsgBuffer::PutInt32(int value) { return PutUInt32(static_cast<unsigned>(value)); }

CIPCMsgBuffer& CIPCMsgBuffer::PutUInt32(unsigned value) {
    const BYTE bytes[4] = {BYTE(value & 0xFF), BYTE((value >> 8) & 0xFF), BYTE((value >> 16) & 0xFF),
                           BYTE(value >> 24)};
    Append(bytes, sizeof(bytes));
    return *this;
}

CIPCMsgBuffer& CIPCMsgBuffer::PutText(const wchar_t* text) {
    if (text == nullptr) text = L"";
    const size_t cch = std::wcslen(text);
    if (cch > (UINT32_MAX - 4) / 2 - 1) throw std::bad_alloc();
    const unsigned cbText = static_cast<unsigned>((cch + 1) * 2);
    // Length and characters in one append, so a failure leaves no half-written text.
    std::vector<BYTE> encoded(4 + static_cast<size_t>(cbText));
    for (int i = 0; i < 4; ++i) encoded[i] = BYTE((cbText >> (8 * i)) & 0xFF);
    for (size_t i = 0; i <= cch; ++i) {
        encoded[4 + 2 * i] = BYTE(text[i] & 0xFF);
        encoded[5 + 2 * i] = BYTE((text[i] >> 8) & 0xFF);
    }
    Append(encoded.data(), static_cast<unsigned>(encoded.size()));
    return *this;
}

CIPCMsgBuffer& CIPCMsgBuffer::PutText(const std::wstring& text) { return PutText(text.c_str()); }

CIPCMsgBuffer& CIPCMsgBuffer::PutBytes(const void* bytes, unsigned n) {
    Append(bytes, n);
    return *this;
}

// --- CIPCMsgBuffer: reads ------------------------------------------------------------

const BYTE* CIPCMsgBuffer::CheckRead(unsigned cb, int line) const {
    if (m_pStorage == nullptr) Raise(CIPCMsgBufferException::kInvalidBuffer, line);
    // m_nReadPos <= m_cbUsed always holds, so the subtraction cannot wrap.
    if (cb > m_cbUsed - m_nReadPos) Raise(CIPCMsgBufferException::kOutOfRange, line);
    return m_pStorage + m_nReadPos;
}

void CIPCMsgBuffer::Advance(unsigned cb) {
    m_nLastReadPos = m_nReadPos;
    m_nReadPos += cb;
}

void CIPCMsgBuffer::ReadRaw(void* out, unsigned cb, int line) {
    std::memcpy(out, CheckRead(cb, line), cb);
    Advance(cb);
}

void CIPCMsgBuffer::GetInt16(short& value) {
    unsigned short raw;
    GetUInt16(raw);
    value = static_cast<short>(raw);
}

void CIPCMsgBuffer::GetUInt16(unsigned short& value) {
    BYTE bytes[2];
    ReadRaw(bytes, sizeof(bytes), __LINE__);
    value = static_cast<unsigned short>(bytes[0] | (bytes[1] << 8));
}

void CIPCMsgBuffer::GetInt32(int& value) {
    unsigned raw;
    GetUInt32(raw);
    value = static_cast<int>(raw);
}

void CIPCMsgBuffer::GetUInt32(unsigned& value) {
    BYTE bytes[4];
    ReadRaw(bytes, sizeof(bytes), __LINE__);
    value = unsigned(bytes[0]) | (unsigned(bytes[1]) << 8) | (unsigned(bytes[2]) << 16) | (unsigned(bytes[3]) << 24);
}

void CIPCMsgBuffer::GetBool(bool& value) {
    unsigned raw;
    GetUInt32(raw);
    value = raw != 0;
}

// Locates the text at the read position without moving it: its characters, its
// byte length L, the characters before the first NUL (or all L / 2) and whether
// the L bytes hold a NUL character.
void CIPCMsgBuffer::PeekText(const wchar_t*& text, unsigned& cbText, unsigned& cch, bool& hasNul, int line) const {
    const BYTE* p = CheckRead(4, line);
    cbText = unsigned(p[0]) | (unsigned(p[1]) << 8) | (unsigned(p[2]) << 16) | (unsigned(p[3]) << 24);
    if (cbText > m_cbUsed - m_nReadPos - 4) Raise(CIPCMsgBufferException::kOutOfRange, line);
    const BYTE* chars = p + 4;
    const unsigned cchMax = cbText / 2;
    cch = 0;
    // NOLINTNEXTLINE(bugprone-implicit-widening-of-multiplication-result): 2 * cch < cbText, a 32-bit length
    while (cch < cchMax && (chars[2 * cch] | chars[2 * cch + 1]) != 0) ++cch;
    hasNul = cch < cchMax;
    text = reinterpret_cast<const wchar_t*>(chars);
}

void CIPCMsgBuffer::GetText(const wchar_t*& text) {
    const wchar_t* chars;
    unsigned cbText, cch;
    bool hasNul;
    PeekText(chars, cbText, cch, hasNul, __LINE__);
    if (!hasNul) Raise(CIPCMsgBufferException::kOutOfRange, __LINE__);
    Advance(4 + cbText);
    text = chars;
}

void CIPCMsgBuffer::GetText(const wchar_t*& text, unsigned& cch) {
    const wchar_t* chars;
    unsigned cbText, cchText;
    bool hasNul;
    PeekText(chars, cbText, cchText, hasNul, __LINE__);
    Advance(4 + cbText);
    text = chars;
    cch = cchText;
}

void CIPCMsgBuffer::GetText(std::wstring& text) {
    const wchar_t* chars;
    unsigned cbText, cch;
    bool hasNul;
    PeekText(chars, cbText, cch, hasNul, __LINE__);
    std::wstring copy(cch, L'\0');
    if (cch != 0) std::memcpy(&copy[0], chars, size_t(cch) * 2);  // storage may be unaligned
    Advance(4 + cbText);
    text.swap(copy);
}

void CIPCMsgBuffer::GetBytes(unsigned n, void*& bytes) {
    const BYTE* p = CheckRead(n, __LINE__);
    BYTE* block = new BYTE[n == 0 ? 1 : n];
    if (n != 0) std::memcpy(block, p, n);
    Advance(n);
    bytes = block;
}

void CIPCMsgBuffer::GetBytes(unsigned n, std::vector<BYTE>& bytes) {
    const BYTE* p = CheckRead(n, __LINE__);
    std::vector<BYTE> copy(p, p + n);
    Advance(n);
    bytes.swap(copy);
}

void CIPCMsgBuffer::FreeBytes(void* bytes) { delete[] static_cast<BYTE*>(bytes); }

void CIPCMsgBuffer::Restore(const SReadMark& mark) {
    if (mark.nReadPos > m_cbUsed || mark.nLastReadPos > m_cbUsed) {
        Raise(CIPCMsgBufferException::kOutOfRange, __LINE__);
    }
    m_nReadPos = mark.nReadPos;
    m_nLastReadPos = mark.nLastReadPos;
}
