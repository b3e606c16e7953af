// Random and truncated messages read through every reading shape. The bytes sit at
// the very end of a committed page followed by an inaccessible page, so a single
// byte read past the data crashes the test instead of passing unnoticed.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <random>

#include "BufferTestSupport.h"
#include "FuzzSupport.h"
#include "ipc/util_ipc_msg_tagged.h"

using namespace foundationtest;

namespace {

const int kRandomRounds = 100000;

class GuardedBytes {
public:
    GuardedBytes() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_cbPage = info.dwPageSize;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * m_cbPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        m_guarded = m_base && VirtualProtect(m_base + m_cbPage, m_cbPage, PAGE_NOACCESS, &old);
    }
    ~GuardedBytes() {
        if (m_base) VirtualFree(m_base, 0, MEM_RELEASE);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    bool valid() const { return m_guarded; }

    // The first byte past every placed message.
    const BYTE* End() const { return m_base + m_cbPage; }

    // Places bytes so that their last byte is the last accessible one.
    const BYTE* Place(const Bytes& bytes) {
        BYTE* start = m_base + m_cbPage - bytes.size();
        if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }

private:
    BYTE* m_base = nullptr;
    size_t m_cbPage = 0;
    bool m_guarded = false;
};

// One way of reading a whole message; returns normally when all fields were read.
using Shape = std::function<void(CIPCMsgBuffer&)>;

void ReadInts(CIPCMsgBuffer& b) {
    while (b.GetReadPos() < b.BytesUsed()) {
        int v;
        b.GetInt32(v);
    }
}

void ReadTexts(CIPCMsgBuffer& b) {
    while (b.GetReadPos() < b.BytesUsed()) {
        const wchar_t* text = nullptr;
        unsigned cch = 0;
        const auto mark = b.Mark();
        b.GetText(text, cch);
        volatile wchar_t sink = 0;
        for (unsigned i = 0; i < cch; ++i) {  // the text may lie at an odd address
            wchar_t c;
            std::memcpy(&c, reinterpret_cast<const char*>(text) + i * sizeof c, sizeof c);
            sink = sink + c;
        }
        b.Restore(mark);
        std::wstring copy;
        b.GetText(copy);
        EXPECT_EQ(cch, copy.size());
        b.Restore(mark);
        try {
            b.GetText(text);
            EXPECT_EQ(cch, std::wcslen(text));  // the NUL lies within the data
        } catch (const CIPCMsgBufferException&) {
            b.GetText(copy);  // a text without NUL: skip it by its bounded form
        }
    }
}

void ReadTagged(CIPCMsgBuffer& b) {
    while (b.GetReadPos() < b.BytesUsed()) {
        CVar v;
        try {
            IPCMsg_GetTaggedVar(b, v);
        } catch (const _com_error&) {
            // A date record that names no date: skip the tag and its 36 bytes.
            unsigned short tag;
            b.GetUInt16(tag);
            Bytes skip;
            b.GetBytes(36, skip);
        }
    }
}

// The add-on manager's request form: id, two texts, a flag, a counted byte block.
void ReadRequest(CIPCMsgBuffer& b) {
    int id;
    std::wstring a, c;
    bool flag;
    unsigned count;
    Bytes block;
    short s;
    b.GetInt32(id);
    b.GetText(a);
    b.GetText(c);
    b.GetBool(flag);
    b.GetUInt32(count);
    b.GetBytes(count, block);
    b.GetInt16(s);
}

const Shape kShapes[] = {ReadInts, ReadTexts, ReadTagged, ReadRequest};

// Reads with shape; every failure must be "Out of range" and leave the positions
// as they were before the failing call. Returns true when the shape completed.
bool ReadChecked(const Bytes& data, GuardedBytes& guard, const Shape& shape) {
    CIPCMsgBuffer view = CIPCMsgBuffer::Borrow(guard.Place(data), static_cast<unsigned>(data.size()));
    try {
        shape(view);
        return true;
    } catch (const CIPCMsgBufferException& e) {
        EXPECT_EQ(0, e.GetErrorCode());
        EXPECT_LE(view.GetReadPos(), view.BytesUsed());
        EXPECT_EQ(data.size(), view.BytesUsed());
        return false;
    }
}

Bytes ValidRequest(std::mt19937& rng) {
    CIPCMsgBuffer b;
    b.PutInt32(1115).PutText(L"1.0.1045").PutText(std::wstring(rng() % 20, L'x')).PutBool(true);
    const unsigned count = rng() % 40;
    b.PutUInt32(count);
    Bytes block(count, 0x5A);
    b.PutBytes(block.data(), count).PutInt16(-1);
    return Contents(b);
}

Bytes ValidTagged() {
    CIPCMsgBuffer b;
    const CVar values[] = {CVar(static_cast<short>(3)), CVar(77), CVar(true), CVar(L"name"), CVar::FromDate(40242.5),
                           CVar(Bytes{1, 2, 3}),        CVar()};
    for (const CVar& v : values) IPCMsg_PutTaggedVar(b, v);
    return Contents(b);
}

// 100,000 random messages, each read in every shape. A failing round prints the
// seed and the message (WDX_FUZZ_SEED repeats the run).
TEST(Robustness, RandomBytesNeverReadPastTheData) {
    GuardedBytes guard;
    ASSERT_TRUE(guard.valid());
    ASSERT_TRUE(IsBadReadPtr(guard.End(), 1)) << "the byte after the data must be unreadable";
    testsupport::FuzzRun run("message buffer reads", 20240611u);
    std::mt19937& rng = run.Rng();
    for (int round = 0, rounds = testsupport::FuzzRounds(kRandomRounds); round < rounds; ++round) {
        Bytes data(rng() % 80);
        for (BYTE& b : data) b = static_cast<BYTE>(rng());
        // Bias some lengths and tags toward the interesting small values.
        if (data.size() >= 4 && round % 3 == 0) data[2] = data[3] = 0;
        if (data.size() >= 2 && round % 5 == 0) data[0] = static_cast<BYTE>(rng() % 2 ? 7 : 8), data[1] = 0;
        run.SetBytes(data.data(), data.size());
        for (const Shape& shape : kShapes) ReadChecked(data, guard, shape);
        if (!run.Passed(round)) return;
    }
}

TEST(Robustness, TruncatedMessagesEndWithOutOfRange) {
    GuardedBytes guard;
    ASSERT_TRUE(guard.valid());
    std::mt19937 rng(7u);
    for (int round = 0; round < 200; ++round) {
        const Bytes full = ValidRequest(rng);
        EXPECT_TRUE(ReadChecked(full, guard, ReadRequest));
        for (size_t cut = 0; cut < full.size(); ++cut) {
            EXPECT_FALSE(ReadChecked(Bytes(full.begin(), full.begin() + cut), guard, ReadRequest)) << cut;
        }
    }
    const Bytes tagged = ValidTagged();
    EXPECT_TRUE(ReadChecked(tagged, guard, ReadTagged));
    size_t completed = 0;
    for (size_t cut = 0; cut < tagged.size(); ++cut) {
        if (ReadChecked(Bytes(tagged.begin(), tagged.begin() + cut), guard, ReadTagged)) ++completed;
    }
    // Only cuts that fall exactly between two values read to the end.
    EXPECT_EQ(7u, completed);
}

}  // namespace
