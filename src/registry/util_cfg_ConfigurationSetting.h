// Configuration-setting categories: named bags of variant fields with per-field
// and per-category modified flags, typed access by name or field id, and a
// stream form carried in an IPC message buffer.
#pragma once
#include <windows.h>

#include <ctime>
#include <map>
#include <string>

#include "foundation/os_Exception.h"
#include "foundation/var_CVar.h"
#include "ipc/util_ipc_msg_buffer.h"

class CStreamable {
public:
    virtual ~CStreamable() = 0;
    virtual void Deserialize(CIPCMsgBuffer& buf) = 0;
    virtual void Serialize(CIPCMsgBuffer& buf) = 0;
};

// Errors of the framework; only code 2 (field id that names no field) is raised here.
class CCfgException : public OS::CException {
public:
    enum { kInvalidSubject = 0, kFieldType = 1, kFieldNotExist = 2, kFieldFormat = 3 };

    CCfgException(int code, const wchar_t* sourcePath, int line, int auxValue, int fieldId)
        : OS::CException(code, sourcePath, line, auxValue), m_nFieldId(fieldId) {}
    CCfgException(const CCfgException&) = default;
    CCfgException& operator=(const CCfgException&) = default;
    ~CCfgException() override;

    virtual std::wstring GetCodeText() const;
    int GetFieldId() const { return m_nFieldId; }

protected:
    int m_nFieldId;
};

// Orders names with A-Z taken as a-z, then by UTF-16 code unit. Returns <0, 0, >0.
int CfgCompareNames(const std::wstring& a, const std::wstring& b);

struct SFieldValue {
    CVar varValue;
    bool bModified = false;
};

class CCfgSettingCategoryBase : public CStreamable {
public:
    class CFieldInfoCallback {
    public:
        virtual ~CFieldInfoCallback() = 0;
        // true asks for the next field, false asks to stop.
        virtual bool OnField(int fieldId, const std::wstring& name, const CVar& value, bool bModified) = 0;
    };

    // Resolves a field id to a name (search mode), or copies every field into
    // m_pTarget (copy mode).
    class CInternalFieldInfoCB : public CFieldInfoCallback {
    public:
        CInternalFieldInfoCB(CCfgSettingCategoryBase* target, int fieldId) : m_nFieldId(fieldId), m_pTarget(target) {}
        bool OnField(int fieldId, const std::wstring& name, const CVar& value, bool bModified) override;
        void SetCopyMode(bool copyMode) { m_bCopyMode = copyMode; }
        const std::wstring& FoundName() const { return m_strFieldName; }

    private:
        bool m_bCopyMode = false;
        int m_nFieldId;
        std::wstring m_strFieldName;
        CCfgSettingCategoryBase* m_pTarget;  // not owned
    };

    // The id under which the base enumeration reports every field.
    static const int kEnumFieldId = 3;

    CCfgSettingCategoryBase() = default;
    CCfgSettingCategoryBase(const CCfgSettingCategoryBase&) = delete;
    CCfgSettingCategoryBase& operator=(const CCfgSettingCategoryBase&) = delete;

    ~CCfgSettingCategoryBase() override = 0;
    void Deserialize(CIPCMsgBuffer& buf) override;
    void Serialize(CIPCMsgBuffer& buf) override;
    // A new, empty object of the same concrete class, owned by the caller.
    virtual CCfgSettingCategoryBase* CreateInstance() = 0;
    virtual void DestroyInstance(CCfgSettingCategoryBase* p) = 0;
    virtual std::wstring GetFieldName(int fieldId);
    // Raise CCfgException code 2 when the id names no field.
    virtual CVar GetValue(int fieldId);
    virtual void SetValue(int fieldId, const CVar& value);
    virtual void EnumFieldInfo(CFieldInfoCallback& callback);
    // OnField(3, name, value, flag) per field in name order; the result is not looked at.
    virtual void EnumFieldValues(CFieldInfoCallback& callback);
    virtual bool SetString(int fieldId, const std::wstring& text);
    virtual bool SetTime(int fieldId, const tm* time);
    virtual bool SetBinary(int fieldId, const void* data, int size);
    virtual bool SetString(int fieldId, const wchar_t* text);
    virtual bool SetString(int fieldId, const char* text);  // system ANSI code page
    virtual bool SetBool(int fieldId, bool value);
    virtual bool SetLong(int fieldId, long value);
    virtual bool SetShort(int fieldId, short value);
    virtual bool SetVariant(int fieldId, const CVar& value, bool bModified);
    // Adds the field when absent, then replaces its value (deep copy) and flag. Always true.
    virtual bool SetVariantByName(const std::wstring& name, const CVar& value, bool bModified);
    virtual bool SetText(int fieldId, const std::wstring& text);
    virtual bool GetString(int fieldId, std::wstring& out);
    virtual bool GetTime(int fieldId, tm* out);
    // Size protocols: null buffer -> needed size stored, true; too small -> false,
    // size unchanged; else size set to the needed size and the data copied.
    virtual bool GetBinary(int fieldId, void* buf, int* size);
    virtual bool GetStringW(int fieldId, wchar_t* buf, int* len);  // characters incl. NUL
    virtual bool GetStringA(int fieldId, char* buf, int* len);     // bytes incl. NUL
    // Coercing getters; a value that cannot be coerced throws _com_error.
    virtual bool GetBool(int fieldId, bool* out);
    virtual bool GetLong(int fieldId, long* out);
    virtual bool GetShort(int fieldId, short* out);
    virtual bool GetVariant(int fieldId, CVar* out);
    // Absent: false, out untouched; else a deep copy of the value.
    virtual bool GetVariantByName(const std::wstring& name, CVar* out);
    virtual bool QueryVariant(int fieldId, CVar* out);
    virtual bool QueryString(int fieldId, std::wstring& out);
    virtual void RemoveField(const std::wstring& name);

    bool IsModified() const { return m_bModified; }
    size_t FieldCount() const { return m_mapFields.size(); }

protected:
    struct SNameLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return CfgCompareNames(a, b) < 0; }
    };
    using FieldMap = std::map<std::wstring, SFieldValue, SNameLess>;

    // Stored text of a VT_BSTR field (up to its first NUL); false for other kinds.
    bool GetStoredText(int fieldId, std::wstring& text);
    bool SetTemp(int fieldId, const CVar& temp);

    bool m_bModified = false;
    FieldMap m_mapFields;
};
