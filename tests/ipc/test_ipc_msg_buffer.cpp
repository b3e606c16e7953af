#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "BufferTestSupport.h"
#include "ipc/util_ipc_msg_buffer.h"

using namespace foundationtest;

namespace {

// --- encodings ----------------------------------------------------------------------

TEST(IPCMsgBufferWrite, ByteExactEncodings) {
    struct Case {
        const char* name;
        std::function<void(CIPCMsgBuffer&)> write;
        Bytes expected;
    } cases[] = {
        {"text abc", [](CIPCMsgBuffer& b) { b.PutText(L"abc"); }, {8, 0, 0, 0, 0x61, 0, 0x62, 0, 0x63, 0, 0, 0}},
        {"empty text", [](CIPCMsgBuffer& b) { b.PutText(L""); }, {2, 0, 0, 0, 0, 0}},
        {"null text", [](CIPCMsgBuffer& b) { b.PutText(static_cast<const wchar_t*>(nullptr)); }, {2, 0, 0, 0, 0, 0}},
        {"string stops at NUL",
         [](CIPCMsgBuffer& b) { b.PutText(std::wstring(L"a\0b", 3)); },
         {4, 0, 0, 0, 0x61, 0, 0, 0}},
        {"non-ASCII text",
         [](CIPCMsgBuffer& b) { b.PutText(L"\x00E9\x4E2D"); },
         {6, 0, 0, 0, 0xE9, 0, 0x2D, 0x4E, 0, 0}},
        {"int32 1115", [](CIPCMsgBuffer& b) { b.PutInt32(1115); }, {0x5B, 0x04, 0, 0}},
        {"int32 -2", [](CIPCMsgBuffer& b) { b.PutInt32(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"uint32", [](CIPCMsgBuffer& b) { b.PutUInt32(0x01020304u); }, {4, 3, 2, 1}},
        {"int16", [](CIPCMsgBuffer& b) { b.PutInt16(-3); }, {0xFD, 0xFF}},
        {"uint16", [](CIPCMsgBuffer& b) { b.PutUInt16(0x2011); }, {0x11, 0x20}},
        {"true", [](CIPCMsgBuffer& b) { b.PutBool(true); }, {1, 0, 0, 0}},
        {"false", [](CIPCMsgBuffer& b) { b.PutBool(false); }, {0, 0, 0, 0}},
        {"chained",
         [](CIPCMsgBuffer& b) { b.PutInt32(1117).PutBool(true).PutBytes("xy", 2); },
         {0x5D, 0x04, 0, 0, 1, 0, 0, 0, 'x', 'y'}},
    };
    for (const Case& c : cases) {
        CIPCMsgBuffer buffer;
        c.write(buffer);
        EXPECT_EQ(c.expected, Contents(buffer)) << c.name;
        EXPECT_EQ(0u, buffer.GetReadPos()) << c.name << ": writes never move the read cursor";
    }
}

TEST(IPCMsgBufferRead, ValuesRoundTrip) {
    CIPCMsgBuffer buffer;
    buffer.PutInt16(-32768).PutUInt16(65535).PutInt32(INT_MIN).PutUInt32(UINT_MAX);
    buffer.PutBool(true).PutText(L"hello").PutText(L"");
    short s = 0;
    unsigned short us = 0;
    int i = 0;
    unsigned u = 0;
    bool b = false;
    const wchar_t* text = nullptr;
    buffer.GetInt16(s);
    buffer.GetUInt16(us);
    buffer.GetInt32(i);
    buffer.GetUInt32(u);
    buffer.GetBool(b);
    EXPECT_EQ(-32768, s);
    EXPECT_EQ(65535, us);
    EXPECT_EQ(INT_MIN, i);
    EXPECT_EQ(UINT_MAX, u);
    EXPECT_TRUE(b);
    const unsigned textStart = buffer.GetReadPos();
    buffer.GetText(text);
    EXPECT_STREQ(L"hello", text);
    EXPECT_EQ(textStart, buffer.GetLastReadPos());
    EXPECT_EQ(buffer.GetData() + textStart + 4, reinterpret_cast<const BYTE*>(text)) << "no copy";
    buffer.GetText(text);
    EXPECT_STREQ(L"", text);
    EXPECT_EQ(buffer.BytesUsed(), buffer.GetReadPos());
}

TEST(IPCMsgBufferRead, AnyNonzeroBooleanIsTrue) {
    for (const Bytes& raw : {Bytes{7, 0, 0, 0}, Bytes{0, 0, 0, 0x80}, Bytes{1, 0, 0, 0}}) {
        CIPCMsgBuffer buffer = BufferOf(raw);
        bool value = false;
        buffer.GetBool(value);
        EXPECT_TRUE(value);
    }
    CIPCMsgBuffer zero = BufferOf({0, 0, 0, 0});
    bool value = true;
    zero.GetBool(value);
    EXPECT_FALSE(value);
}

TEST(IPCMsgBufferRead, BoundedTextViews) {
    // L = 6 bytes holding "ab" and a NUL, then "cd" without NUL (L = 4), then odd L = 3.
    CIPCMsgBuffer buffer = BufferOf({6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0,  //
                                     4, 0, 0, 0, 'c', 0, 'd', 0,        //
                                     3, 0, 0, 0, 'e', 0, 'f'});
    const wchar_t* text = nullptr;
    unsigned cch = 99;
    buffer.GetText(text, cch);
    EXPECT_EQ(2u, cch);
    EXPECT_EQ(std::wstring(L"ab"), std::wstring(text, cch));
    const unsigned before = buffer.GetReadPos();
    EXPECT_TRUE(RaisesCode(0, [&] { buffer.GetText(text); }))
        << "a text without NUL in its L bytes cannot be handed out as a NUL-terminated pointer";
    EXPECT_EQ(before, buffer.GetReadPos());
    std::wstring copy;
    buffer.GetText(copy);
    EXPECT_EQ(L"cd", copy) << "the text ends at its L bytes";
    buffer.GetText(text, cch);
    EXPECT_EQ(1u, cch) << "an odd trailing byte is no character";
    EXPECT_EQ(buffer.BytesUsed(), buffer.GetReadPos());
}

TEST(IPCMsgBufferRead, GetBytesCopiesOut) {
    CIPCMsgBuffer buffer = BufferOf({1, 2, 3, 4, 5});
    void* block = nullptr;
    buffer.GetBytes(3, block);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, std::memcmp(block, "\x01\x02\x03", 3));
    CIPCMsgBuffer::FreeBytes(block);
    Bytes rest;
    buffer.GetBytes(2, rest);
    EXPECT_EQ((Bytes{4, 5}), rest);
    EXPECT_EQ(3u, buffer.GetLastReadPos());
}

// --- growth ---------------------------------------------------------------------------

TEST(AccBuffer, GrowsInWholeUnits) {
    CIPCMsgBuffer buffer(1024);
    EXPECT_EQ(nullptr, buffer.GetData());
    EXPECT_EQ(0u, buffer.Capacity());
    buffer.PutInt32(1);
    EXPECT_EQ(1024u, buffer.Capacity());
    const Bytes filler(1016, 0xAB);
    buffer.Append(filler.data(), static_cast<unsigned>(filler.size()));
    EXPECT_EQ(1020u, buffer.BytesUsed());
    const BYTE* before = buffer.GetData();
    buffer.PutInt32(2);
    EXPECT_EQ(1024u, buffer.Capacity()) << "fits exactly, no growth";
    EXPECT_EQ(before, buffer.GetData());

    CIPCMsgBuffer second(1024);
    second.Append(filler.data(), 1016);
    second.PutInt32(1);
    second.PutInt32(2).PutInt32(3);  // 1020 used + 8
    EXPECT_EQ(2048u, second.Capacity());
    EXPECT_EQ(1028u, second.BytesUsed());
    Bytes tail(second.GetData() + 1016, second.GetData() + 1028);
    EXPECT_EQ((Bytes{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}), tail) << "old bytes kept across growth";
}

TEST(AccBuffer, GrowthFollowsCapacityPlusN) {
    struct Case {
        unsigned unit, first, second, capacity;
    } cases[] = {
        {32768, 4, 0, 32768},  {1024, 1024, 0, 2048},    // exactly one unit still gets floor(1024 / 1024) + 1 units
        {1024, 1023, 0, 1024}, {1024, 1000, 100, 2048},  // second append: (1024 + 100) / 1024 + 1 units
        {16, 10, 10, 32},
    };
    for (const Case& c : cases) {
        CIPCMsgBuffer buffer(c.unit);
        const Bytes a(c.first, 1), b(c.second, 2);
        buffer.Append(a.data(), c.first);
        buffer.Append(b.data(), c.second);
        EXPECT_EQ(c.capacity, buffer.Capacity()) << c.unit << " " << c.first << " " << c.second;
        EXPECT_EQ(c.first + c.second, buffer.BytesUsed());
    }
}

TEST(AccBuffer, ZeroUnitMeansDefault) {
    CIPCMsgBuffer buffer(0);
    EXPECT_EQ(32768u, buffer.GrowthUnit());
    buffer.PutBool(true);
    EXPECT_EQ(32768u, buffer.Capacity());
}

TEST(AccBuffer, ImpossibleGrowthThrowsOutOfMemoryAndKeepsBuffer) {
    CIPCMsgBuffer buffer(1024);
    buffer.PutInt32(5);
    const BYTE byte = 0;
    // The length would wrap 32 bits; the data pointer is never read because the size fails first.
    EXPECT_THROW(buffer.Append(&byte, 0xFFFFFFF0u), std::bad_alloc);
    EXPECT_EQ((Bytes{5, 0, 0, 0}), Contents(buffer));
    EXPECT_EQ(1024u, buffer.Capacity());
}

// --- failures -------------------------------------------------------------------------

TEST(IPCMsgBufferFailure, FreshBufferIsInvalidForEveryRead) {
    CIPCMsgBuffer buffer;
    short s;
    unsigned short us;
    int i;
    unsigned u;
    bool b;
    const wchar_t* text;
    unsigned cch;
    std::wstring copy;
    void* block;
    Bytes bytes;
    const std::function<void()> reads[] = {
        [&] { buffer.GetInt16(s); },        [&] { buffer.GetUInt16(us); }, [&] { buffer.GetInt32(i); },
        [&] { buffer.GetUInt32(u); },       [&] { buffer.GetBool(b); },    [&] { buffer.GetText(text); },
        [&] { buffer.GetText(text, cch); }, [&] { buffer.GetText(copy); }, [&] { buffer.GetBytes(0, block); },
        [&] { buffer.GetBytes(1, bytes); },
    };
    for (const auto& read : reads) {
        EXPECT_TRUE(RaisesCode(1, read));
        EXPECT_EQ(0u, buffer.GetReadPos());
    }
}

TEST(IPCMsgBufferFailure, ShortReadsAreOutOfRangeAndChangeNothing) {
    struct Case {
        const char* name;
        Bytes data;
        std::function<void(CIPCMsgBuffer&)> read;
    } cases[] = {
        {"int32 from 3 bytes",
         {1, 2, 3},
         [](CIPCMsgBuffer& b) {
             int v;
             b.GetInt32(v);
         }},
        {"int16 from 1 byte",
         {1},
         [](CIPCMsgBuffer& b) {
             short v;
             b.GetInt16(v);
         }},
        {"bool from 2 bytes",
         {1, 0},
         [](CIPCMsgBuffer& b) {
             bool v;
             b.GetBool(v);
         }},
        {"text length cut",
         {2, 0, 0},
         [](CIPCMsgBuffer& b) {
             std::wstring v;
             b.GetText(v);
         }},
        {"text body cut",
         {8, 0, 0, 0, 'a', 0, 0},
         [](CIPCMsgBuffer& b) {
             const wchar_t* v;
             b.GetText(v);
         }},
        {"huge text length",
         {0xFC, 0xFF, 0xFF, 0xFF, 'a', 0, 0, 0},
         [](CIPCMsgBuffer& b) {
             const wchar_t* v;
             b.GetText(v);
         }},
        {"huge bounded text",
         {0xFC, 0xFF, 0xFF, 0xFF, 0, 0},
         [](CIPCMsgBuffer& b) {
             const wchar_t* v;
             unsigned n;
             b.GetText(v, n);
         }},
        {"bytes past end",
         {1, 2},
         [](CIPCMsgBuffer& b) {
             Bytes v;
             b.GetBytes(3, v);
         }},
        {"huge byte count",
         {1, 2},
         [](CIPCMsgBuffer& b) {
             void* v;
             b.GetBytes(0xFFFFFFFFu, v);
         }},
    };
    for (const Case& c : cases) {
        CIPCMsgBuffer buffer = BufferOf(c.data);
        const Bytes before = Contents(buffer);
        EXPECT_TRUE(RaisesCode(0, [&] { c.read(buffer); })) << c.name;
        EXPECT_EQ(0u, buffer.GetReadPos()) << c.name;
        EXPECT_EQ(0u, buffer.GetLastReadPos()) << c.name;
        EXPECT_EQ(before, Contents(buffer)) << c.name;
    }
}

TEST(IPCMsgBufferFailure, FailedReadKeepsBothPositions) {
    CIPCMsgBuffer buffer = BufferOf({1, 0, 2, 0, 0, 0, 9});
    short first;
    int second, third;
    buffer.GetInt16(first);
    buffer.GetInt32(second);
    EXPECT_EQ(2u, buffer.GetLastReadPos());
    EXPECT_EQ(6u, buffer.GetReadPos());
    EXPECT_TRUE(RaisesCode(0, [&] { buffer.GetInt32(third); }));
    EXPECT_EQ(2u, buffer.GetLastReadPos());
    EXPECT_EQ(6u, buffer.GetReadPos());
    unsigned char last;
    Bytes rest;
    buffer.GetBytes(1, rest);
    last = rest[0];
    EXPECT_EQ(9, last);
}

TEST(IPCMsgBufferFailure, BorrowedViewReadsButIsNotOwner) {
    const BYTE data[] = {0x5B, 0x04, 0, 0};
    CIPCMsgBuffer view = CIPCMsgBuffer::Borrow(data, sizeof(data));
    EXPECT_FALSE(view.IsOwner());
    int value = 0;
    view.GetInt32(value);
    EXPECT_EQ(1115, value);
    EXPECT_TRUE(RaisesCode(2, [&] { view.PutInt32(1); }));
    EXPECT_TRUE(RaisesCode(2, [&] { view.PutText(L"long enough to need growth"); }));
    EXPECT_EQ(4u, view.BytesUsed());
    EXPECT_EQ(data, view.GetData());

    // A copy of a view owns its bytes and may be written to.
    CIPCMsgBuffer copy(view);
    EXPECT_TRUE(copy.IsOwner());
    EXPECT_NE(data, copy.GetData());
    copy.PutInt32(7);
    EXPECT_EQ(8u, copy.BytesUsed());

    CIPCMsgBuffer empty = CIPCMsgBuffer::Borrow(nullptr, 10);
    EXPECT_TRUE(RaisesCode(1, [&] {
        int v;
        empty.GetInt32(v);
    }));
}

TEST(IPCMsgBufferFailure, RestoreRejectsMarksPastTheData) {
    CIPCMsgBuffer buffer = BufferOf({1, 0, 0, 0});
    EXPECT_TRUE(RaisesCode(0, [&] { buffer.Restore({5, 0}); }));
    EXPECT_EQ(0u, buffer.GetReadPos());
    int value;
    buffer.GetInt32(value);
    buffer.Restore({0, 0});
    buffer.GetInt32(value);
    EXPECT_EQ(1, value);
}

// --- copies -----------------------------------------------------------------------------

TEST(IPCMsgBufferCopy, CopyContinuesAtSourcePositionIndependently) {
    CIPCMsgBuffer source(1024);
    source.PutInt32(10).PutInt32(20).PutInt32(30);
    int value;
    source.GetInt32(value);
    CIPCMsgBuffer copy(source);
    EXPECT_EQ(32768u, copy.GrowthUnit());
    EXPECT_EQ(source.Capacity(), copy.Capacity());
    EXPECT_EQ(Contents(source), Contents(copy));
    EXPECT_NE(source.GetData(), copy.GetData());
    EXPECT_EQ(4u, copy.GetReadPos());
    copy.GetInt32(value);
    EXPECT_EQ(20, value);
    copy.GetInt32(value);
    EXPECT_EQ(30, value);
    EXPECT_EQ(4u, source.GetReadPos()) << "reading the copy must not move the source";
    source.GetInt32(value);
    EXPECT_EQ(20, value);
    copy.PutInt32(40);
    EXPECT_EQ(12u, source.BytesUsed());
}

TEST(IPCMsgBufferCopy, CopyOfFreshBufferIsStillInvalid) {
    CIPCMsgBuffer fresh(16);
    CIPCMsgBuffer copy(fresh);
    EXPECT_EQ(nullptr, copy.GetData());
    EXPECT_TRUE(RaisesCode(1, [&] {
        int v;
        copy.GetInt32(v);
    }));
}

TEST(IPCMsgBufferCopy, AssignmentKeepsTargetGrowthUnit) {
    CIPCMsgBuffer source(64);
    source.PutText(L"abc").PutInt32(5);
    const wchar_t* text;
    source.GetText(text);
    CIPCMsgBuffer target(16);
    target.PutInt32(99);
    target = source;
    EXPECT_EQ(16u, target.GrowthUnit());
    EXPECT_EQ(Contents(source), Contents(target));
    EXPECT_EQ(source.GetReadPos(), target.GetReadPos());
    EXPECT_EQ(source.GetLastReadPos(), target.GetLastReadPos());
    int value;
    target.GetInt32(value);
    EXPECT_EQ(5, value);

    CIPCMsgBuffer& alias = target;
    const BYTE* data = target.GetData();
    target = alias;
    EXPECT_EQ(data, target.GetData()) << "self-assignment does nothing";
    EXPECT_EQ(target.BytesUsed(), source.BytesUsed());

    CIPCMsgBuffer fresh;
    target = fresh;
    EXPECT_EQ(nullptr, target.GetData());
    EXPECT_EQ(0u, target.BytesUsed());
    EXPECT_EQ(0u, target.GetReadPos());
}

TEST(Exception, FieldsAndVirtualsThroughTheBase) {
    CIPCMsgBufferException e(2, L".\\unit.cpp", 12, 4);
    OS::CException& base = e;
    EXPECT_EQ(2, base.GetCode());
    EXPECT_EQ(2, base.GetErrorCode());
    EXPECT_EQ(4, base.GetAuxValue());
    EXPECT_EQ(L"", base.GetMessage());
    base.SetCode(7);
    base.SetAuxValue(9);
    base.SetMessage(L"m");
    EXPECT_EQ(7, e.GetErrorCode());
    EXPECT_EQ(9, e.GetAuxValue());
    base.SetMessage(nullptr);
    EXPECT_EQ(L"", e.GetMessage());
}

TEST(Exception, ThrownByValueCaughtByBaseReferenceKeepsEverything) {
    try {
        CIPCMsgBufferException e(1, L"C:\\src\\unit.cpp", 33, 4);
        e.SetMessage(L"msg");
        throw e;
    } catch (const OS::CException& caught) {
        EXPECT_EQ(L"msg, (1), [unit.cpp|33]", caught.GetDescription());
        const auto* typed = dynamic_cast<const CIPCMsgBufferException*>(&caught);
        ASSERT_NE(nullptr, typed);
        EXPECT_EQ(L"Invalid buffer", typed->GetCodeText());
    }
}

TEST(Exception, BufferCodeTexts) {
    struct Case {
        int code;
        const wchar_t* text;
    } cases[] = {{0, L"Out of range"}, {1, L"Invalid buffer"}, {2, L"Not owner"}, {3, L""}, {-1, L""}, {100, L""}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, CIPCMsgBufferException(c.code, nullptr, 0, 4).GetCodeText()) << c.code;
    }
}

}  // namespace
