#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, LoadsDll) {
    HMODULE m = LoadLibraryW(L"WDXPatchAgent.dll");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(GetProcAddress(m, "StartAction"), nullptr);
    FreeLibrary(m);
}
