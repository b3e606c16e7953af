// The registration request bytes and the add-on's last-error record.
#include <gtest/gtest.h>

#include <cstring>

#include "ServerFixture.h"
#include "aos/AoSSrvSDK.h"
#include "foundation/win_Handle.h"
#include "ipc/util_ipc_msg_buffer.h"
#include "registry/util_plm_compList.h"

namespace {

// The registration record's size is the one callers put in dwSize (52) only in
// the shipped 32-bit build, where pointers have 4 bytes; the messages carry
// texts and counts, never pointers, so their bytes are the same in both builds.
TEST(SdkRecords, RecordLayoutFollowsThePointerSize) {
#ifdef _WIN64
    EXPECT_EQ(8u, sizeof(void*));
    EXPECT_EQ(104u, sizeof(AoSData));
    EXPECT_EQ(26u, sizeof(AoSUIExtensionData));  // packed
#else
    EXPECT_EQ(4u, sizeof(void*));
    EXPECT_EQ(52u, sizeof(AoSData));
    EXPECT_EQ(14u, sizeof(AoSUIExtensionData));  // packed
#endif
    AoSUIExtensionData ext = {L"g", L"e.js", L"d", 1, 0};
    AoSData record = {};
    record.iTotalUIExtensionDataCount = 1;
    record.pUIExtensions = &ext;
    CIPCMsgBuffer buffer(1024);
    SerializeAoSData(1115, buffer, record);
    // id, six null texts (a count and a NUL each), count 0, count 1, three texts, two int32, count 0
    EXPECT_EQ(4u + 6 * 6 + 4 + 4 + (4 + 4) + (4 + 10) + (4 + 4) + 4 + 4 + 4, buffer.BytesUsed());
}

// Reads what SerializeAoSData wrote, field by field, independently of the buffer class.
class Reader {
public:
    explicit Reader(const CIPCMsgBuffer& buffer) : m_data(buffer.GetData()), m_size(buffer.BytesUsed()) {}
    int Int() {
        int value = 0;
        EXPECT_LE(m_pos + 4, m_size);
        if (m_pos + 4 <= m_size) std::memcpy(&value, m_data + m_pos, 4);
        m_pos += 4;
        return value;
    }
    std::wstring Text() {
        unsigned cb = static_cast<unsigned>(Int());
        EXPECT_EQ(0u, cb % 2);
        EXPECT_LE(m_pos + cb, m_size);
        if (cb < 2 || m_pos + cb > m_size) return L"<bad>";
        std::wstring text(reinterpret_cast<const wchar_t*>(m_data + m_pos), cb / 2 - 1);
        EXPECT_EQ(0, m_data[m_pos + cb - 1] | m_data[m_pos + cb - 2]) << "terminating NUL";
        m_pos += cb;
        return text;
    }
    bool AtEnd() const { return m_pos == m_size; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

TEST(SerializeAoSData, EmptyRecordIsSixEmptyTextsAndThreeZeroCounts) {
    AoSData record = {};
    record.dwSize = 52;
    record.wpszPLSId = L"";
    CIPCMsgBuffer buffer(1024);
    SerializeAoSData(1117, buffer, record);
    EXPECT_EQ(4u + 6 * 6 + 3 * 4, buffer.BytesUsed());
    Reader r(buffer);
    EXPECT_EQ(1117, r.Int());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(L"", r.Text());
    EXPECT_EQ(0, r.Int());
    EXPECT_EQ(0, r.Int());
    EXPECT_EQ(0, r.Int());
    EXPECT_TRUE(r.AtEnd());
}

TEST(SerializeAoSData, EveryFieldInWireOrder) {
    AoSComponentEntry components[] = {{L"c1", nullptr, -7}};
    AoSUIExtensionData extensions[] = {{L"grp", L"ext.dll", nullptr, 2, 0}, {nullptr, L"e2", L"d2", 1, 1}};
    AoSUIPage pages[] = {{L"Main Page", L"../cgi/page?ID=x"}};
    AoSData record = {52,           L"KPSE_ADDON_WDX",
                      L"10.6.1045", L"C:\\A\\WDX",
                      nullptr,      L"C:\\A\\WDX\\p.dll",
                      L"C:\\u.exe", 1,
                      components,   2,
                      extensions,   1,
                      pages};
    CIPCMsgBuffer buffer(1024);
    SerializeAoSData(1115, buffer, record);
    Reader r(buffer);
    EXPECT_EQ(1115, r.Int());
    for (const wchar_t* text :
         {L"KPSE_ADDON_WDX", L"10.6.1045", L"C:\\A\\WDX", L"", L"C:\\A\\WDX\\p.dll", L"C:\\u.exe"})
        EXPECT_EQ(text, r.Text());
    EXPECT_EQ(1, r.Int());
    EXPECT_EQ(L"c1", r.Text());
    EXPECT_EQ(L"", r.Text());
    EXPECT_EQ(-7, r.Int());
    EXPECT_EQ(2, r.Int());
    EXPECT_EQ(L"grp", r.Text());
    EXPECT_EQ(L"ext.dll", r.Text());
    EXPECT_EQ(L"", r.Text());
    EXPECT_EQ(2, r.Int()) << "the flag byte travels as its value";
    EXPECT_EQ(0, r.Int());
    EXPECT_EQ(L"", r.Text());
    EXPECT_EQ(L"e2", r.Text());
    EXPECT_EQ(L"d2", r.Text());
    EXPECT_EQ(1, r.Int());
    EXPECT_EQ(1, r.Int());
    EXPECT_EQ(1, r.Int());
    EXPECT_EQ(L"Main Page", r.Text());
    EXPECT_EQ(L"../cgi/page?ID=x", r.Text());
    EXPECT_TRUE(r.AtEnd());
}

TEST(SerializeAoSData, NegativeCountsSendNoElements) {
    AoSData record = {};
    record.iComponentCount = -1;
    record.iTotalUIExtensionDataCount = -2;
    record.iUIPageCount = -3;  // array pointers stay null: they must not be read
    CIPCMsgBuffer buffer(1024);
    SerializeAoSData(1115, buffer, record);
    Reader r(buffer);
    r.Int();
    for (int i = 0; i < 6; ++i) r.Text();
    EXPECT_EQ(-1, r.Int());
    EXPECT_EQ(-2, r.Int());
    EXPECT_EQ(-3, r.Int());
    EXPECT_TRUE(r.AtEnd());
}

TEST(AoSSrvSDK, NullRecordSendsNothing) {
    EXPECT_EQ(1, AoSSrv_Register(nullptr));
    EXPECT_EQ(1, AoSSrv_Unregister(nullptr));
}

// The add-on manager's registry area with one component of the add-on.
class LastErrorRecord : public testing::Test {
protected:
    static constexpr const wchar_t* kComponentKey =
        L"SOFTWARE\\Norvale\\Quillon\\service\\AoS\\KPSE_ADDON_WDX\\1_9_1.0.1045";

    void SetUp() override {
        DeleteAoS();
        OS::UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, nullptr, 0,
                                                 KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
        SetText(key.get(), L"ID", L"KPSE_ADDON_WDX");
        SetText(key.get(), L"Platform", L"1");
        SetText(key.get(), L"Language", L"9");
        SetText(key.get(), L"Version", L"1.0.1045");
        DWORD one = 1;
        RegSetValueExW(key.get(), L"Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    void TearDown() override { DeleteAoS(); }

    static void DeleteAoS() { testsupport::DeleteAoSRoot(); }
    static void SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    static std::wstring Value(const wchar_t* name, DWORD* type = nullptr) {
        OS::UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
            return L"<no key>";
        wchar_t data[8192] = {};
        DWORD cb = sizeof(data) - sizeof(wchar_t), t = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &t, reinterpret_cast<BYTE*>(data), &cb) != ERROR_SUCCESS)
            return L"<absent>";
        if (type) *type = t;
        DWORD number = 0;
        std::memcpy(&number, data, sizeof number);
        return t == REG_DWORD ? std::to_wstring(number) : std::wstring(data);
    }
};

TEST_F(LastErrorRecord, WritesTheThreeErrorValuesAsText) {
    EXPECT_EQ(0, AoSSrv_SetLastError(L"1.0.1045", L"Dieses Tool erfordert Quillon 10.6 und höher"));
    DWORD type = 0;
    EXPECT_EQ(L"1", Value(L"LastErrorOccurred", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(L"1", Value(L"LastErrorCode", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(L"Dieses Tool erfordert Quillon 10.6 und höher", Value(L"LastErrorMsg"));
    EXPECT_EQ(L"1", Value(L"Enabled", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << "unmodified values are left alone";
}

TEST_F(LastErrorRecord, LongVersionTextIsMatchedByItsFirst15Characters) {
    // Build 10457 in full, 1045 in its first 15 characters.
    EXPECT_EQ(0, AoSSrv_SetLastError(L"1.0.000000010457", L"msg"));
    EXPECT_EQ(L"msg", Value(L"LastErrorMsg"));
}

TEST_F(LastErrorRecord, LongDescriptionIsCutAt4096Characters) {
    std::wstring description(5000, L'm');
    EXPECT_EQ(0, AoSSrv_SetLastError(L"1.0.1045", description.c_str()));
    EXPECT_EQ(4096u, Value(L"LastErrorMsg").size());
}

TEST_F(LastErrorRecord, NoMatchingComponentWritesNothing) {
    EXPECT_EQ(1011, AoSSrv_SetLastError(L"1.0.1046", L"msg"));
    EXPECT_EQ(L"<absent>", Value(L"LastErrorMsg"));
    DeleteAoS();
    EXPECT_EQ(1011, AoSSrv_SetLastError(L"1.0.1045", L"msg"));
}

}  // namespace
