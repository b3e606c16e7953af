// CVar: an automation variant (_variant_t) with a cached text view that copies
// share. Every failed conversion, copy or allocation throws _com_error with the
// failing HRESULT (E_OUTOFMEMORY for allocations).
#pragma once
#include <windows.h>
#include <comdef.h>  // _variant_t, _com_error

#include <ctime>
#include <string>
#include <vector>

class CVar : public _variant_t {
public:
    CVar() = default;                      // VT_EMPTY
    CVar(const wchar_t* text);             // VT_BSTR; a null text gives a null BSTR
    CVar(const std::wstring& text);        // VT_BSTR (characters up to the first NUL)
    CVar(short value);                     // VT_I2
    CVar(int value);                       // VT_I4
    CVar(long value);                      // VT_I4 (long is 32-bit on Windows)
    CVar(bool value);                      // VT_BOOL, true stored as VARIANT_TRUE
    CVar(const std::vector<BYTE>& bytes);  // VT_ARRAY | VT_UI1, lower bound 0
    CVar(const VARIANT& value);            // deep copy of any variant
    CVar(const CVar& other);               // deep copy; shares the cached text
    CVar& operator=(const CVar& other);
    CVar& operator=(const VARIANT& value);  // drops the cached text
    virtual ~CVar();

    // VT_DATE from an OLE automation date (days since 1899-12-30).
    static CVar FromDate(DATE date);

    VARTYPE Type() const { return vt; }

    // The value itself when the kind matches, otherwise converted (VariantChangeType, flags 0).
    short GetInt16() const;
    int GetInt32() const;
    // VT_BOOL: nonzero is true; other kinds: converted, true only for VARIANT_TRUE.
    bool GetBool() const;
    // VT_BSTR: its own text (a null BSTR gives ""); other kinds: converted into a new
    // shared text that replaces the cached one. Valid until the next GetText on this
    // value, an assignment to it, or its destruction.
    const wchar_t* GetText() const;
    // VT_ARRAY | VT_UI1: a copy of all elements; any other kind: empty.
    std::vector<BYTE> GetBytes() const;
    // The OLE automation date: the value itself for VT_DATE, otherwise converted.
    DATE GetDate() const;

    // Date to broken-down time: seconds, minutes, hours, day, month (0-11), years
    // since 1900 (the full year below 1900), day of week and day of year 0, daylight
    // flag -1. Returns false when the date cannot be converted (fields then cleared).
    bool ToTm(struct tm& out) const;
    // Broken-down time to date: year = tm_year + 1900, month = tm_mon + 1, day,
    // hours, minutes, seconds, milliseconds 0. On success (nonzero) this value becomes
    // that VT_DATE; on failure it is unchanged and 0 is returned.
    int FromTm(const struct tm& in);

private:
    struct SSharedText;
    void ReleaseCachedText() const;

    mutable SSharedText* m_pCachedText = nullptr;
};
