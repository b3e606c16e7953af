#include <gtest/gtest.h>

#include "foundation/os_Exception.h"

namespace {

TEST(Exception, FileNameComesFromThePathsLastPart) {
    struct Case {
        const wchar_t* path;
        const wchar_t* fileName;
    } cases[] = {
        {L"D:\\work\\demo.txt", L"demo.txt"},
        {L".\\demo.txt", L"demo.txt"},
        {L"demo.txt", L"demo.txt"},
        {L"C:demo.txt", L"demo.txt"},
        {L"/src/aos/unit.cpp", L"unit.cpp"},
        {L".\\util_ipc_msg_buffer", L"util_ipc_msg_buffer"},
        {L"D:\\dir.with.dots\\archive.tar.gz", L"archive.tar.gz"},
        {L"D:\\work\\", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        OS::CException e(1, c.path, 1, 4);
        EXPECT_EQ(c.fileName, e.GetFileName()) << c.path;
    }
}

TEST(Exception, LongNameAndExtensionAreEachCutTo255) {
    const std::wstring name(300, L'n');
    const std::wstring ext = L"." + std::wstring(300, L'e');
    OS::CException e(0, (L"C:\\x\\" + name + ext).c_str(), 1, 4);
    EXPECT_EQ(name.substr(0, 255) + ext.substr(0, 255), e.GetFileName());
}

TEST(Exception, NullSourcePathGivesDescriptionEqualToMessage) {
    OS::CException e(5, nullptr, 10, 4);
    EXPECT_EQ(L"", e.GetFileName());
    EXPECT_EQ(L"", e.GetDescription());
    e.SetMessage(L"plain");
    EXPECT_EQ(L"plain", e.GetDescription());
}

TEST(Exception, DescriptionCarriesMessageCodeFileAndLine) {
    OS::CException e(2, L"D:\\work\\demo.txt", 7, 4);
    e.SetMessage(L"x");
    EXPECT_EQ(L"x, (2), [demo.txt|7]", e.GetDescription());
    // Raised exceptions have no message, so their descriptions start with a comma.
    OS::CException raised(0, L".\\util_ipc_msg_buffer", 569, 4);
    EXPECT_EQ(L", (0), [util_ipc_msg_buffer|569]", raised.GetDescription());
    // A long message is not cut.
    const std::wstring longMessage(3000, L'm');
    e.SetMessage(longMessage.c_str());
    EXPECT_EQ(longMessage + L", (2), [demo.txt|7]", e.GetDescription());
    OS::CException negative(-2147483647 - 1, L"a.b", -1, 4);
    EXPECT_EQ(L", (-2147483648), [a.b|-1]", negative.GetDescription());
}

}  // namespace
