#include <gtest/gtest.h>

#include <cstring>

#include "BufferTestSupport.h"
#include "ipc/util_ipc_msg_tagged.h"

using namespace foundationtest;

namespace {

CVar Raw(VARTYPE type, void (*fill)(VARIANT&)) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    fill(v);
    return CVar(v);
}

Bytes Int32s(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        for (int i = 0; i < 4; ++i) out.push_back(BYTE((static_cast<unsigned>(v) >> (8 * i)) & 0xFF));
    }
    return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

CVar Date(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    DATE date = 0;
    EXPECT_TRUE(SystemTimeToVariantTime(&st, &date));
    return CVar::FromDate(date);
}

Bytes Encode(const CVar& value) {
    CIPCMsgBuffer buffer;
    IPCMsg_PutTaggedVar(buffer, value);
    return Contents(buffer);
}

TEST(TaggedWrite, ByteExactEncodings) {
    struct Case {
        const char* name;
        CVar value;
        Bytes expected;
    } cases[] = {
        {"I2", CVar(static_cast<short>(-2)), {2, 0, 0xFE, 0xFF}},
        {"UI2", Raw(VT_UI2, [](VARIANT& v) { V_UI2(&v) = 0xBEEF; }), {18, 0, 0xEF, 0xBE}},
        {"I4", CVar(1115), {3, 0, 0x5B, 0x04, 0, 0}},
        {"UI4", Raw(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 0x80000001u; }), {19, 0, 1, 0, 0, 0x80}},
        {"INT", Raw(VT_INT, [](VARIANT& v) { V_INT(&v) = -1; }), {22, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"UINT", Raw(VT_UINT, [](VARIANT& v) { V_UINT(&v) = 7; }), {23, 0, 7, 0, 0, 0}},
        {"BOOL true", CVar(true), {11, 0, 1, 0, 0, 0}},
        {"BOOL false", CVar(false), {11, 0, 0, 0, 0, 0}},
        {"BSTR", CVar(L"ab"), {8, 0, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}},
        {"null BSTR", CVar(static_cast<const wchar_t*>(nullptr)), {8, 0, 2, 0, 0, 0, 0, 0}},
        {"date", Date(2010, 3, 5, 13, 14, 15), Cat({7, 0}, Int32s({15, 14, 13, 5, 2, 110, 0, 0, -1}))},
        {"date 1900", Date(1900, 1, 1, 0, 0, 0), Cat({7, 0}, Int32s({0, 0, 0, 1, 0, 0, 0, 0, -1}))},
        {"bytes", CVar(Bytes{9, 8, 7}), {0x11, 0x20, 3, 0, 0, 0, 9, 8, 7}},
        {"empty bytes", CVar(Bytes{}), {0x11, 0x20, 0, 0, 0, 0}},
        {"I1 alone", Raw(VT_I1, [](VARIANT& v) { V_I1(&v) = 5; }), {16, 0}},
        {"R8 alone", Raw(VT_R8, [](VARIANT& v) { V_R8(&v) = 1.5; }), {5, 0}},
        {"EMPTY alone", CVar(), {0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Encode(c.value)) << c.name;
}

TEST(TaggedWrite, DatesBefore1900KeepAYearThatReadsBack) {
    // The year field is the year minus 1900 also before 1900 (negative), so that
    // the reader's "+ 1900" restores it.
    EXPECT_EQ(Cat({7, 0}, Int32s({0, 0, 0, 30, 11, -1, 0, 0, -1})), Encode(CVar::FromDate(0.0)));
    const CVar old = Date(1601, 6, 15, 1, 2, 3);
    CIPCMsgBuffer buffer;
    IPCMsg_PutTaggedVar(buffer, old);
    CVar back;
    IPCMsg_GetTaggedVar(buffer, back);
    EXPECT_EQ(VT_DATE, back.Type());
    EXPECT_DOUBLE_EQ(old.date, back.date);
}

TEST(TaggedWrite, FailedConversionWritesNothing) {
    CIPCMsgBuffer buffer;
    buffer.PutInt32(1);
    const CVar badDate = CVar::FromDate(1e12);  // far beyond year 9999
    EXPECT_THROW(IPCMsg_PutTaggedVar(buffer, badDate), _com_error);
    EXPECT_EQ((Bytes{1, 0, 0, 0}), Contents(buffer));

    const BYTE data[] = {1};
    CIPCMsgBuffer view = CIPCMsgBuffer::Borrow(data, 1);
    EXPECT_TRUE(RaisesCode(2, [&] { IPCMsg_PutTaggedVar(view, CVar(5)); }));
}

TEST(TaggedRead, RoundTripOfEveryEncodedKind) {
    const CVar values[] = {
        CVar(static_cast<short>(-300)),
        Raw(VT_UI2, [](VARIANT& v) { V_UI2(&v) = 65535; }),
        CVar(-123456),
        Raw(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 0xFFFFFFFEu; }),
        Raw(VT_INT, [](VARIANT& v) { V_INT(&v) = -9; }),
        Raw(VT_UINT, [](VARIANT& v) { V_UINT(&v) = 9; }),
        CVar(true),
        CVar(false),
        CVar(L"text \x00E9"),
        CVar(L""),
        Date(2010, 3, 5, 13, 14, 15),
        Date(9999, 12, 31, 23, 59, 59),
        CVar(Bytes{1, 2, 3, 0, 255}),
        CVar(Bytes{}),
    };
    CIPCMsgBuffer buffer(1024);
    for (const CVar& v : values) IPCMsg_PutTaggedVar(buffer, v);
    for (const CVar& expected : values) {
        CVar actual(L"marker");
        IPCMsg_GetTaggedVar(buffer, actual);
        EXPECT_EQ(expected.Type(), actual.Type());
        if (expected.Type() == (VT_ARRAY | VT_UI1)) {
            EXPECT_EQ(expected.GetBytes(), actual.GetBytes());
        } else {
            EXPECT_EQ(std::wstring(expected.GetText()), actual.GetText()) << "type " << expected.Type();
            if (expected.Type() == VT_DATE) {
                EXPECT_DOUBLE_EQ(expected.date, actual.date);
            }
        }
    }
    EXPECT_EQ(buffer.BytesUsed(), buffer.GetReadPos());
}

TEST(TaggedRead, BodilessTagsGiveEmpty) {
    CIPCMsgBuffer buffer = BufferOf({16, 0, 5, 0, 1, 0, 0x0C, 0x20, 3, 0, 42, 0, 0, 0});
    for (int i = 0; i < 4; ++i) {
        CVar value(7);
        IPCMsg_GetTaggedVar(buffer, value);
        EXPECT_EQ(VT_EMPTY, value.Type()) << i;
    }
    CVar last;
    IPCMsg_GetTaggedVar(buffer, last);
    EXPECT_EQ(42, last.GetInt32()) << "the tags before it took no body bytes";
    EXPECT_TRUE(IPCMsg_IsBodilessTag(VT_I1));
    EXPECT_FALSE(IPCMsg_IsBodilessTag(VT_ARRAY | VT_UI1));
}

TEST(TaggedRead, LpwstrTagReadsAsText) {
    CIPCMsgBuffer buffer = BufferOf({31, 0, 4, 0, 0, 0, 'z', 0, 0, 0});
    CVar value;
    IPCMsg_GetTaggedVar(buffer, value);
    EXPECT_EQ(VT_BSTR, value.Type());
    EXPECT_STREQ(L"z", value.GetText());
}

TEST(TaggedRead, TruncatedValuesChangeNeitherBufferNorValue) {
    struct Case {
        const char* name;
        Bytes data;
        int code;
    } cases[] = {
        {"lone tag byte", {3}, 0},
        {"I4 cut", {3, 0, 1, 2, 3}, 0},
        {"text cut", {8, 0, 6, 0, 0, 0, 'a', 0}, 0},
        {"date cut", Cat({7, 0}, Int32s({1, 2, 3, 4, 5, 6, 7, 8})), 0},
        {"bytes count cut", {0x11, 0x20, 3, 0}, 0},
        {"bytes cut", {0x11, 0x20, 3, 0, 0, 0, 1, 2}, 0},
        {"huge byte count", {0x11, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 1}, 0},
    };
    for (const Case& c : cases) {
        CIPCMsgBuffer buffer = BufferOf(Cat({9, 9}, c.data));
        unsigned short prefix;
        buffer.GetUInt16(prefix);
        CVar value(L"unchanged");
        EXPECT_TRUE(RaisesCode(c.code, [&] { IPCMsg_GetTaggedVar(buffer, value); })) << c.name;
        EXPECT_EQ(2u, buffer.GetReadPos()) << c.name;
        EXPECT_EQ(0u, buffer.GetLastReadPos()) << c.name;
        EXPECT_STREQ(L"unchanged", value.GetText()) << c.name;
    }
}

TEST(TaggedRead, DateRecordWithoutADateIsRejectedWholly) {
    CIPCMsgBuffer buffer = BufferOf(Cat({7, 0}, Int32s({0, 0, 0, 1, 13, 100, 0, 0, -1})));
    CVar value(5);
    try {
        IPCMsg_GetTaggedVar(buffer, value);
        FAIL() << "month 13 accepted";
    } catch (const _com_error& e) {
        EXPECT_EQ(E_INVALIDARG, e.Error());
    }
    EXPECT_EQ(0u, buffer.GetReadPos());
    EXPECT_EQ(5, value.GetInt32());
}

TEST(TaggedRead, DateReaderIgnoresWeekdayYeardayAndDaylight) {
    CIPCMsgBuffer buffer = BufferOf(Cat({7, 0}, Int32s({15, 14, 13, 5, 2, 110, 77, -9, 1})));
    CVar value;
    IPCMsg_GetTaggedVar(buffer, value);
    EXPECT_DOUBLE_EQ(Date(2010, 3, 5, 13, 14, 15).date, value.date);
}

}  // namespace
