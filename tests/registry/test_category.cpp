#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ipc/util_ipc_msg_buffer.h"
#include "registry/util_cfg_ConfigurationSetting.h"

namespace {

class TestCategory : public CCfgSettingCategoryBase {
public:
    CCfgSettingCategoryBase* CreateInstance() override { return new TestCategory; }
    void DestroyInstance(CCfgSettingCategoryBase* p) override { delete p; }
};

// A category that names its own fields by id, as derived categories may.
class IdCategory : public TestCategory {
public:
    void EnumFieldInfo(CFieldInfoCallback& callback) override {
        CVar empty;
        if (!callback.OnField(10, L"Count", empty, false)) return;
        callback.OnField(11, L"Name", empty, false);
    }
};

struct Field {
    int id;
    std::wstring name;
    std::wstring text;
    bool modified;
};

class CollectFields : public CCfgSettingCategoryBase::CFieldInfoCallback {
public:
    bool OnField(int id, const std::wstring& name, const CVar& value, bool modified) override {
        fields.push_back({id, name, value.GetText(), modified});
        return false;  // the base enumeration goes on regardless
    }
    std::vector<Field> fields;
};

const int kLast = CCfgSettingCategoryBase::kEnumFieldId;

TEST(Category, NamesMatchIgnoringCaseOfAtoZOnly) {
    TestCategory category;
    EXPECT_FALSE(category.IsModified());
    category.SetVariantByName(L"Version", CVar(L"1"), false);
    EXPECT_TRUE(category.IsModified());
    EXPECT_TRUE(category.SetVariantByName(L"version", CVar(L"2"), true));
    EXPECT_EQ(1u, category.FieldCount());
    category.SetVariantByName(L"\u00C4", CVar(L"upper umlaut"), false);
    category.SetVariantByName(L"\u00E4", CVar(L"lower umlaut"), false);  // not folded: another field
    category.SetVariantByName(L"_x", CVar(L"under"), false);
    category.SetVariantByName(L"B", CVar(L"b"), false);

    CollectFields all;
    category.EnumFieldValues(all);
    // '_' sorts before 'b' once B is folded to b; code units decide beyond A-Z.
    ASSERT_EQ(5u, all.fields.size());
    EXPECT_EQ(L"_x", all.fields[0].name);
    EXPECT_EQ(L"B", all.fields[1].name);
    EXPECT_EQ(L"Version", all.fields[2].name);  // keeps the first spelling
    EXPECT_EQ(L"2", all.fields[2].text);
    EXPECT_TRUE(all.fields[2].modified);
    EXPECT_FALSE(all.fields[1].modified);
    EXPECT_EQ(L"\u00C4", all.fields[3].name);
    EXPECT_EQ(L"\u00E4", all.fields[4].name);
    for (const Field& f : all.fields) EXPECT_EQ(kLast, f.id);

    CVar out(L"marker");
    EXPECT_FALSE(category.GetVariantByName(L"missing", &out));
    EXPECT_STREQ(L"marker", out.GetText());
    EXPECT_TRUE(category.GetVariantByName(L"VERSION", &out));
    EXPECT_STREQ(L"2", out.GetText());
    category.RemoveField(L"vErSiOn");
    category.RemoveField(L"missing");
    EXPECT_EQ(4u, category.FieldCount());
}

TEST(Category, IdThreeIsTheLastFieldAndOtherIdsNameNothing) {
    TestCategory category;
    EXPECT_EQ(L"", category.GetFieldName(kLast));
    category.SetVariantByName(L"ID", CVar(L"x"), false);
    category.SetVariantByName(L"Version", CVar(L"1.0"), false);
    EXPECT_EQ(L"Version", category.GetFieldName(3));
    EXPECT_EQ(L"", category.GetFieldName(7));

    try {
        category.GetValue(7);
        FAIL() << "no exception";
    } catch (const CCfgException& e) {
        EXPECT_EQ(2, e.GetErrorCode());
        EXPECT_EQ(7, e.GetFieldId());
        EXPECT_EQ(4, e.GetAuxValue());
        EXPECT_EQ(L"Field ID 0x00000007 is not exist.", e.GetCodeText());
        EXPECT_EQ(L"util_cfg_ConfigurationSetting", e.GetFileName());
        const CCfgException copy(e);
        EXPECT_EQ(7, copy.GetFieldId());
    }
    EXPECT_THROW(category.SetValue(7, CVar(1L)), CCfgException);
    EXPECT_FALSE(category.SetLong(7, 1));
    long number = 99;
    EXPECT_FALSE(category.GetLong(7, &number));
    EXPECT_EQ(99, number);

    category.SetValue(3, CVar(L"2.0"));  // replaces the last field's value
    EXPECT_STREQ(L"2.0", category.GetValue(3).GetText());
    EXPECT_EQ(2u, category.FieldCount());
}

TEST(Category, DerivedIdsResolveThroughEnumFieldInfo) {
    IdCategory category;
    EXPECT_TRUE(category.SetLong(10, 5));
    EXPECT_TRUE(category.SetString(11, L"n"));
    long count = 0;
    EXPECT_TRUE(category.GetLong(10, &count));
    EXPECT_EQ(5, count);
    CVar name;
    EXPECT_TRUE(category.GetVariantByName(L"name", &name));
    EXPECT_STREQ(L"n", name.GetText());
    EXPECT_FALSE(category.SetLong(12, 1));
}

TEST(Category, CodeTexts) {
    struct {
        int code;
        const wchar_t* text;
    } const cases[] = {
        {0, L"Subject id configuration is invalid formula."},
        {1, L"Field type is incorrect."},
        {2, L"Field ID 0xabcdef12 is not exist."},
        {3, L"Data of Field ID 0xabcdef12 is not valid format."},
        {4, L""},
        {-1, L""},
    };
    for (const auto& c : cases) {
        CCfgException e(c.code, L"D:\\src\\unit.cpp", 12, 4, static_cast<int>(0xABCDEF12));
        EXPECT_EQ(c.text, e.GetCodeText()) << c.code;
    }
}

TEST(Category, TextSizeProtocol) {
    TestCategory category;
    category.SetVariantByName(L"t", CVar(L"abc"), false);
    int len = 0;
    EXPECT_TRUE(category.GetStringW(kLast, nullptr, &len));
    EXPECT_EQ(4, len);
    wchar_t buffer[10];
    wmemset(buffer, 0xBDBD, 10);
    len = 3;
    EXPECT_FALSE(category.GetStringW(kLast, buffer, &len));
    EXPECT_EQ(3, len);
    EXPECT_EQ(0xBDBD, buffer[0]);
    len = 10;
    EXPECT_TRUE(category.GetStringW(kLast, buffer, &len));
    EXPECT_EQ(4, len);
    EXPECT_STREQ(L"abc", buffer);
    EXPECT_EQ(0xBDBD, buffer[4]);

    char narrow[10];
    memset(narrow, 0xBD, sizeof narrow);
    len = 0;
    EXPECT_TRUE(category.GetStringA(kLast, nullptr, &len));
    EXPECT_EQ(4, len);
    len = 3;
    EXPECT_FALSE(category.GetStringA(kLast, narrow, &len));
    EXPECT_EQ(3, len);
    len = 4;
    EXPECT_TRUE(category.GetStringA(kLast, narrow, &len));
    EXPECT_STREQ("abc", narrow);

    std::wstring out = L"untouched";
    EXPECT_TRUE(category.GetString(kLast, out));
    EXPECT_EQ(L"abc", out);
    EXPECT_TRUE(category.QueryString(kLast, out));
    EXPECT_TRUE(category.SetString(kLast, std::wstring()));
    EXPECT_TRUE(category.GetString(kLast, out));
    EXPECT_EQ(L"", out);
    out = L"untouched";
    EXPECT_FALSE(category.GetString(9, out));
    EXPECT_EQ(L"untouched", out);

    // Text getters do not coerce other kinds.
    category.SetLong(kLast, 42);
    EXPECT_FALSE(category.GetStringW(kLast, nullptr, &len));
    EXPECT_FALSE(category.GetString(kLast, out));
    EXPECT_TRUE(category.SetString(kLast, "narrow"));
    EXPECT_TRUE(category.GetString(kLast, out));
    EXPECT_EQ(L"narrow", out);
}

TEST(Category, BinarySizeProtocol) {
    TestCategory category;
    category.SetVariantByName(L"b", CVar(), false);
    const BYTE data[] = {1, 2, 3};
    EXPECT_TRUE(category.SetBinary(kLast, data, 3));
    int size = 0;
    EXPECT_TRUE(category.GetBinary(kLast, nullptr, &size));
    EXPECT_EQ(3, size);
    BYTE out[8];
    memset(out, 0xBD, sizeof out);
    size = 2;
    EXPECT_FALSE(category.GetBinary(kLast, out, &size));
    EXPECT_EQ(2, size);
    EXPECT_EQ(0xBD, out[0]);
    size = 8;
    EXPECT_TRUE(category.GetBinary(kLast, out, &size));
    EXPECT_EQ(3, size);
    EXPECT_EQ(0, memcmp(out, data, 3));
    EXPECT_EQ(0xBD, out[3]);

    EXPECT_TRUE(category.SetBinary(kLast, data, 0));
    size = 8;
    memset(out, 0xBD, sizeof out);
    EXPECT_TRUE(category.GetBinary(kLast, out, &size));
    EXPECT_EQ(0, size);
    EXPECT_EQ(0xBD, out[0]);
    EXPECT_FALSE(category.SetBinary(kLast, nullptr, 2));
    EXPECT_FALSE(category.SetBinary(kLast, data, -1));

    category.SetLong(kLast, 5);  // not a byte array: 0 bytes
    EXPECT_TRUE(category.GetBinary(kLast, nullptr, &size));
    EXPECT_EQ(0, size);
}

TEST(Category, CoercingGetters) {
    TestCategory category;
    category.SetVariantByName(L"v", CVar(L"42"), false);
    long number = 0;
    short small = 0;
    bool flag = false;
    EXPECT_TRUE(category.GetLong(kLast, &number));
    EXPECT_EQ(42, number);
    EXPECT_TRUE(category.GetShort(kLast, &small));
    EXPECT_EQ(42, small);
    EXPECT_FALSE(category.GetLong(kLast, nullptr));
    category.SetBool(kLast, true);
    EXPECT_TRUE(category.GetBool(kLast, &flag));
    EXPECT_TRUE(flag);
    category.SetVariantByName(L"v", CVar(L"abc"), false);
    EXPECT_THROW(category.GetLong(kLast, &number), _com_error);
    EXPECT_THROW(category.GetBool(kLast, &flag), _com_error);
    category.SetLong(kLast, 70000);
    EXPECT_THROW(category.GetShort(kLast, &small), _com_error);
}

TEST(Category, TimeRoundTrip) {
    TestCategory category;
    category.SetVariantByName(L"when", CVar(), false);
    tm in = {};
    in.tm_year = 120;
    in.tm_mon = 4;
    in.tm_mday = 29;
    in.tm_hour = 12;
    in.tm_min = 30;
    in.tm_sec = 15;
    EXPECT_TRUE(category.SetTime(kLast, &in));
    tm out = {};
    EXPECT_TRUE(category.GetTime(kLast, &out));
    EXPECT_EQ(120, out.tm_year);
    EXPECT_EQ(4, out.tm_mon);
    EXPECT_EQ(29, out.tm_mday);
    EXPECT_EQ(15, out.tm_sec);
    EXPECT_EQ(-1, out.tm_isdst);
    EXPECT_FALSE(category.GetTime(kLast, nullptr));

    in.tm_mon = 40;  // no such date: the value is the OLE date 0.0
    EXPECT_TRUE(category.SetTime(kLast, &in));
    EXPECT_DOUBLE_EQ(0.0, category.GetValue(kLast).date);
}

TEST(Category, CopyModeCopiesEveryField) {
    TestCategory source;
    source.SetVariantByName(L"a", CVar(1L), true);
    source.SetVariantByName(L"b", CVar(L"x"), true);
    TestCategory target;
    CCfgSettingCategoryBase::CInternalFieldInfoCB copier(&target, 0);
    copier.SetCopyMode(true);
    source.EnumFieldValues(copier);
    CollectFields copied;
    target.EnumFieldValues(copied);
    ASSERT_EQ(2u, copied.fields.size());
    EXPECT_EQ(L"x", copied.fields[1].text);
    EXPECT_FALSE(copied.fields[0].modified);
}

// ---- stream form ------------------------------------------------------------

std::vector<BYTE> Bytes(const CIPCMsgBuffer& buffer) {
    return std::vector<BYTE>(buffer.GetData(), buffer.GetData() + buffer.BytesUsed());
}

std::vector<BYTE> Ints(std::initializer_list<int> values) {
    std::vector<BYTE> out;
    for (int v : values)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(static_cast<unsigned>(v) >> (8 * i)));
    return out;
}

// Bytes of a one-field category after its header and name.
std::vector<BYTE> FieldBody(const CVar& value) {
    TestCategory category;
    category.SetVariantByName(L"f", value, false);
    CIPCMsgBuffer buffer;
    category.Serialize(buffer);
    const std::vector<BYTE> all = Bytes(buffer);
    const size_t header = 4 + 4 + 4 + 4;  // flag, count, name length, "f" and NUL
    return std::vector<BYTE>(all.begin() + header, all.end());
}

TEST(CategoryStream, EmptyCategoryIsFlagAndZero) {
    TestCategory category;
    CIPCMsgBuffer buffer;
    category.Serialize(buffer);
    EXPECT_EQ(Ints({0, 0}), Bytes(buffer));

    TestCategory target;
    target.SetVariantByName(L"keep", CVar(L"k"), false);
    CIPCMsgBuffer modified;
    modified.PutBool(true).PutInt32(0);
    target.Deserialize(modified);
    EXPECT_EQ(1u, target.FieldCount());
    EXPECT_TRUE(target.IsModified());
    CIPCMsgBuffer clean;
    clean.PutBool(false).PutInt32(-5);
    target.Deserialize(clean);
    EXPECT_FALSE(target.IsModified());  // the streamed flag wins
    EXPECT_EQ(1u, target.FieldCount());
}

TEST(CategoryStream, FieldEncodings) {
    std::vector<BYTE> boolean = {11, 0};
    const std::vector<BYTE> one = Ints({1});
    boolean.insert(boolean.end(), one.begin(), one.end());
    EXPECT_EQ(boolean, FieldBody(CVar(true)));

    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_UI4;
    raw.ulVal = 5;
    std::vector<BYTE> unsigned32 = {19, 0};
    const std::vector<BYTE> five = Ints({5});
    unsigned32.insert(unsigned32.end(), five.begin(), five.end());
    EXPECT_EQ(unsigned32, FieldBody(CVar(raw)));

    SYSTEMTIME st = {2020, 5, 0, 29, 12, 30, 15, 0};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
    std::vector<BYTE> dated = {7, 0};
    const std::vector<BYTE> record = Ints({15, 30, 12, 29, 4, 120, 0, 0, -1});
    dated.insert(dated.end(), record.begin(), record.end());
    EXPECT_EQ(dated, FieldBody(CVar::FromDate(date)));

    std::vector<BYTE> emptyBytes = {0x11, 0x20};
    const std::vector<BYTE> zero = Ints({0});
    emptyBytes.insert(emptyBytes.end(), zero.begin(), zero.end());
    EXPECT_EQ(emptyBytes, FieldBody(CVar(std::vector<BYTE>())));

    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 1.5;
    EXPECT_EQ((std::vector<BYTE>{5, 0}), FieldBody(CVar(real)));  // the tag alone
}

VARIANT Raw(VARTYPE type, unsigned value) {
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = type;
    raw.ulVal = 0;
    if (type == VT_UI2)
        raw.uiVal = static_cast<USHORT>(value);
    else
        raw.ulVal = value;
    return raw;
}

// Windows' VariantChangeType reports the overflow itself; Wine's wraps the value,
// so the category checks the range on its own.
TEST(CategoryStream, UnsignedAboveSignedRangeDoesNotStream) {
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_UI4;
    raw.ulVal = 3000000000u;
    TestCategory category;
    category.SetVariantByName(L"a_first", CVar(L"streams fine"), false);
    category.SetVariantByName(L"big", CVar(raw), false);
    CIPCMsgBuffer buffer;
    buffer.PutInt32(77);
    EXPECT_THROW(category.Serialize(buffer), _com_error);
    EXPECT_EQ(4u, buffer.BytesUsed()) << "a failed category leaves nothing half-written";

    TestCategory small;
    small.SetVariantByName(L"u2", CVar(Raw(VT_UI2, 40000)), false);
    EXPECT_THROW(small.Serialize(buffer), _com_error);
}

TEST(CategoryStream, RoundTripOfEveryKind) {
    SYSTEMTIME st = {2010, 3, 0, 5, 13, 14, 15, 0};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 2.5;
    struct {
        const wchar_t* name;
        CVar value;
        VARTYPE readType;
        const wchar_t* readText;
    } const cases[] = {
        {L"i2", CVar(static_cast<short>(-7)), VT_I2, L"-7"},
        {L"ui2", CVar(Raw(VT_UI2, 300)), VT_I2, L"300"},
        {L"i4", CVar(-70000L), VT_I4, L"-70000"},
        {L"ui4", CVar(Raw(VT_UI4, 5)), VT_I4, L"5"},
        {L"int", CVar(Raw(VT_INT, 6)), VT_I4, L"6"},
        {L"uint", CVar(Raw(VT_UINT, 7)), VT_I4, L"7"},
        {L"text", CVar(L"h\u00e9llo"), VT_BSTR, L"h\u00e9llo"},
        {L"empty text", CVar(L""), VT_BSTR, L""},
        {L"bool", CVar(false), VT_BOOL, nullptr},
        {L"date", CVar::FromDate(date), VT_DATE, nullptr},
        {L"bytes", CVar(std::vector<BYTE>{0, 1, 255}), VT_ARRAY | VT_UI1, nullptr},
        {L"nothing", CVar(), VT_EMPTY, L""},
        {L"real", CVar(real), VT_EMPTY, L""},
    };
    TestCategory source;
    for (const auto& c : cases) source.SetVariantByName(c.name, c.value, true);
    CIPCMsgBuffer buffer;
    source.Serialize(buffer);

    TestCategory target;
    target.Deserialize(buffer);
    EXPECT_EQ(buffer.BytesUsed(), buffer.GetReadPos());
    EXPECT_TRUE(target.IsModified());
    EXPECT_EQ(source.FieldCount(), target.FieldCount());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CVar out;
        ASSERT_TRUE(target.GetVariantByName(c.name, &out));
        EXPECT_EQ(c.readType, out.Type());
        if (c.readText) {
            EXPECT_STREQ(c.readText, out.GetText());
        }
    }
    CVar out;
    target.GetVariantByName(L"date", &out);
    EXPECT_DOUBLE_EQ(date, out.date);
    target.GetVariantByName(L"bytes", &out);
    EXPECT_EQ((std::vector<BYTE>{0, 1, 255}), out.GetBytes());
    target.GetVariantByName(L"bool", &out);
    EXPECT_EQ(VARIANT_FALSE, out.boolVal);
    // Per-field flags are not streamed.
    CollectFields fields;
    target.EnumFieldValues(fields);
    for (const Field& f : fields.fields) EXPECT_FALSE(f.modified) << f.name;
}

TEST(CategoryStream, TruncatedStreamKeepsWhatWasRead) {
    TestCategory source;
    source.SetVariantByName(L"a", CVar(L"first"), false);
    source.SetVariantByName(L"b", CVar(L"second"), false);
    CIPCMsgBuffer full;
    source.Serialize(full);
    const std::vector<BYTE> bytes = Bytes(full);
    CIPCMsgBuffer cut;
    cut.Append(bytes.data(), static_cast<unsigned>(bytes.size() - 3));

    TestCategory target;
    EXPECT_THROW(target.Deserialize(cut), CIPCMsgBufferException);
    EXPECT_EQ(1u, target.FieldCount());
    EXPECT_TRUE(target.IsModified());

    CIPCMsgBuffer headerOnly;
    headerOnly.PutBool(true);
    TestCategory untouched;
    EXPECT_THROW(untouched.Deserialize(headerOnly), CIPCMsgBufferException);
    EXPECT_FALSE(untouched.IsModified());
}

TEST(CategoryStream, InvalidDateRecordReadsAsDateZero) {
    CIPCMsgBuffer buffer;
    buffer.PutBool(false).PutInt32(1).PutText(L"d");
    buffer.PutUInt16(VT_DATE);
    for (int v : {0, 0, 0, -1, 1, 120, 0, 0, -1}) buffer.PutInt32(v);  // day -1
    TestCategory target;
    target.Deserialize(buffer);
    CVar out;
    ASSERT_TRUE(target.GetVariantByName(L"d", &out));
    EXPECT_EQ(VT_DATE, out.Type());
    EXPECT_DOUBLE_EQ(0.0, out.date);
}

}  // namespace
