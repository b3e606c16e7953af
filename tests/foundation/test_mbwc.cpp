#include <gtest/gtest.h>

#include <cstring>

#include "foundation/mbwc_MBWC.h"

namespace {

TEST(MBWC, WCToMBNeedsRoomForTheNul) {
    char buffer[8];
    std::memset(buffer, 0xBD, sizeof(buffer));
    EXPECT_EQ(4, MBWC::WCToMB(L"abc", buffer, 4, CP_ACP, 0));
    EXPECT_STREQ("abc", buffer);

    std::memset(buffer, 0xBD, sizeof(buffer));
    EXPECT_EQ(0, MBWC::WCToMB(L"abc", buffer, 3, CP_ACP, 0));
    for (char c : buffer) EXPECT_EQ(static_cast<char>(0xBD), c) << "nothing written";

    EXPECT_EQ(1, MBWC::WCToMB(L"", buffer, 1, CP_ACP, 0));
    EXPECT_EQ('\0', buffer[0]);
}

TEST(MBWC, WCToMBUtf8CountsBytes) {
    char buffer[8];
    EXPECT_EQ(0, MBWC::WCToMB(L"\x00E9\x4E2D", buffer, 5, CP_UTF8, 0));
    EXPECT_EQ(6, MBWC::WCToMB(L"\x00E9\x4E2D", buffer, 6, CP_UTF8, 0));
    EXPECT_STREQ("\xC3\xA9\xE4\xB8\xAD", buffer);
}

TEST(MBWC, MBToWC) {
    std::wstring out = L"old";
    DWORD error = 12345;
    EXPECT_EQ(4, MBWC::MBToWC("abc", out, CP_ACP, 0, &error));
    EXPECT_EQ(L"abc", out);
    EXPECT_EQ(1, MBWC::MBToWC("", out, CP_ACP, 0, nullptr));
    EXPECT_EQ(L"", out);
    EXPECT_EQ(3, MBWC::MBToWC("\xC3\xA9\xE4\xB8\xAD", out, CP_UTF8, 0, nullptr));
    EXPECT_EQ(L"\x00E9\x4E2D", out);

    out = L"kept";
    error = 0;
    EXPECT_EQ(0, MBWC::MBToWC("\xC3", out, CP_UTF8, MB_ERR_INVALID_CHARS, &error));
    EXPECT_NE(0u, error);
    EXPECT_EQ(L"kept", out);
}

}  // namespace
