// Byte encoding of the add-on manager's IPC messages and of streamed configuration
// values: a growable byte store (CAccBuffer) and, on top of it, typed little-endian
// writes and cursor-based reads (CIPCMsgBuffer). A message is the plain
// concatenation of its fields; there is no header and no overall length.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/os_Exception.h"

// Raised by the buffer with one of the codes below; the auxiliary value is 4.
class CIPCMsgBufferException : public OS::CException {
public:
    enum { kOutOfRange = 0, kInvalidBuffer = 1, kNotOwner = 2 };

    CIPCMsgBufferException(int code, const wchar_t* sourcePath, int line, int auxValue)
        : OS::CException(code, sourcePath, line, auxValue) {}
    CIPCMsgBufferException(const CIPCMsgBufferException&) = default;
    CIPCMsgBufferException& operator=(const CIPCMsgBufferException&) = default;
    ~CIPCMsgBufferException() override;

    // "Out of range", "Invalid buffer", "Not owner"; empty for any other code.
    virtual std::wstring GetCodeText() const;
};

// Growable byte store. Storage stays null until the first byte is written.
class CAccBuffer {
public:
    static const unsigned kDefaultGrowthUnit = 32768;

    // A growth unit of 0 is taken as the default.
    explicit CAccBuffer(unsigned growthUnit = kDefaultGrowthUnit);
    virtual ~CAccBuffer();

    // Appends n raw bytes. Raises "Not owner" into a borrowed buffer; throws
    // std::bad_alloc when the storage cannot grow. The buffer is unchanged on failure.
    void Append(const void* bytes, unsigned n);

    unsigned BytesUsed() const { return m_cbUsed; }
    unsigned Capacity() const { return m_cbCapacity; }
    unsigned GrowthUnit() const { return m_cbGrowthUnit; }
    bool IsOwner() const { return m_bOwner; }
    // Null before the first write. Valid until the next write, assignment or destruction.
    const BYTE* GetData() const { return m_pStorage; }

protected:
    struct SBorrow {};
    // Reading view over bytes the caller owns and keeps alive; never written or freed.
    CAccBuffer(const void* bytes, unsigned cb, SBorrow);
    CAccBuffer(const CAccBuffer& other);             // deep copy, default growth unit
    CAccBuffer& operator=(const CAccBuffer& other);  // deep copy, keeps growth unit

    BYTE* m_pStorage = nullptr;
    unsigned m_cbCapacity = 0;
    unsigned m_cbUsed = 0;
    unsigned m_cbGrowthUnit = kDefaultGrowthUnit;
    bool m_bOwner = true;

private:
    void CopyFrom(const CAccBuffer& other);
};

class CIPCMsgBuffer : public CAccBuffer {
public:
    explicit CIPCMsgBuffer(unsigned growthUnit = kDefaultGrowthUnit) : CAccBuffer(growthUnit) {}
    // Non-owning reading view over cb bytes (e.g. a received reply). The bytes must
    // outlive the view; writes raise "Not owner". Copies of a view own their bytes.
    static CIPCMsgBuffer Borrow(const void* bytes, unsigned cb);

    // Deep copy with the default growth unit, continuing at the source's read position.
    CIPCMsgBuffer(const CIPCMsgBuffer& other);
    // Deep copy keeping this buffer's growth unit; self-assignment does nothing.
    CIPCMsgBuffer& operator=(const CIPCMsgBuffer& other);
    ~CIPCMsgBuffer() override;

    // Typed writes, little-endian, chainable.
    CIPCMsgBuffer& PutBool(bool value);              // 4 bytes: 0 or 1
    CIPCMsgBuffer& PutInt16(short value);            // 2 bytes
    CIPCMsgBuffer& PutUInt16(unsigned short value);  // 2 bytes
    CIPCMsgBuffer& PutInt32(int value);              // 4 bytes
    CIPCMsgBuffer& PutUInt32(unsigned value);        // 4 bytes
    // Byte length L = 2 x (characters + 1), then the UTF-16LE characters and a NUL.
    // A null pointer is written as the empty text.
    CIPCMsgBuffer& PutText(const wchar_t* text);
    // The string's characters up to its first NUL.
    CIPCMsgBuffer& PutText(const std::wstring& text);
    CIPCMsgBuffer& PutBytes(const void* bytes, unsigned n);  // raw, no length

    // Typed reads. Failures raise CIPCMsgBufferException: "Invalid buffer" when
    // nothing was ever written, "Out of range" when the value runs past
    // BytesUsed(). A failed read leaves the buffer exactly as it was.
    void GetInt16(short& value);
    void GetUInt16(unsigned short& value);
    void GetInt32(int& value);
    void GetUInt32(unsigned& value);
    void GetBool(bool& value);  // any nonzero 32-bit value is true
    // Pointer to the text's first character inside the storage (no copy), valid
    // until the buffer is written to, assigned or destroyed. The text must hold a NUL
    // character within its L bytes, otherwise "Out of range" (so that reading up to
    // the NUL never passes the declared bytes). The storage is bytes: the pointer may
    // be odd, so read its characters with memcpy, as the copying form does.
    void GetText(const wchar_t*& text);
    // Bounded view: cch is the number of characters before the first NUL within the
    // L bytes, or all of them (L / 2) when they hold no NUL. text[cch] may not exist.
    void GetText(const wchar_t*& text, unsigned& cch);
    // Copy of the bounded view.
    void GetText(std::wstring& text);
    // n raw bytes in a new block (new BYTE[n]); the caller frees it with FreeBytes.
    void GetBytes(unsigned n, void*& bytes);
    void GetBytes(unsigned n, std::vector<BYTE>& bytes);
    static void FreeBytes(void* bytes);

    unsigned GetReadPos() const { return m_nReadPos; }
    unsigned GetLastReadPos() const { return m_nLastReadPos; }

    // Saved read state, so a composite read (tag and value) can be undone as a whole.
    struct SReadMark {
        unsigned nReadPos;
        unsigned nLastReadPos;
    };
    SReadMark Mark() const { return SReadMark{m_nReadPos, m_nLastReadPos}; }
    // Returns to a mark taken on this buffer; a mark past BytesUsed() raises "Out of range".
    void Restore(const SReadMark& mark);

private:
    CIPCMsgBuffer(const void* bytes, unsigned cb, SBorrow tag) : CAccBuffer(bytes, cb, tag) {}
    // Checks that cb bytes can be read at the read position; returns their address.
    const BYTE* CheckRead(unsigned cb, int line) const;
    void Advance(unsigned cb);
    void ReadRaw(void* out, unsigned cb, int line);
    void PeekText(const wchar_t*& text, unsigned& cbText, unsigned& cch, bool& hasNul, int line) const;

    unsigned m_nReadPos = 0;
    unsigned m_nLastReadPos = 0;
};
