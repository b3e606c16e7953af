#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <vector>

#include "ImportHook.h"
#include "TestSupport.h"
#include "foundation/com_Support.h"
#include "foundation/var_CVar.h"

namespace {

using Bytes = std::vector<BYTE>;

TEST(CVarKinds, ConstructorsGiveTheDocumentedKinds) {
    EXPECT_EQ(VT_EMPTY, CVar().Type());
    CVar text(L"abc");
    EXPECT_EQ(VT_BSTR, text.Type());
    EXPECT_STREQ(L"abc", text.bstrVal);
    CVar nullText(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(VT_BSTR, nullText.Type());
    EXPECT_EQ(nullptr, nullText.bstrVal);
    EXPECT_STREQ(L"", nullText.GetText());
    CVar i2(static_cast<short>(-5));
    EXPECT_EQ(VT_I2, i2.Type());
    EXPECT_EQ(-5, i2.iVal);
    CVar i4(123456);
    EXPECT_EQ(VT_I4, i4.Type());
    EXPECT_EQ(123456, i4.lVal);
    EXPECT_EQ(VT_I4, CVar(7L).Type());
    CVar yes(true), no(false);
    EXPECT_EQ(VT_BOOL, yes.Type());
    EXPECT_EQ(VARIANT_TRUE, yes.boolVal);
    EXPECT_EQ(VARIANT_FALSE, no.boolVal);
}

TEST(CVarConversions, NumbersAndBooleans) {
    EXPECT_EQ(42, CVar(42).GetInt32());
    EXPECT_EQ(42, CVar(L"42").GetInt32());
    EXPECT_EQ(-7, CVar(L"-7").GetInt16());
    EXPECT_EQ(300, CVar(static_cast<short>(300)).GetInt32());
    EXPECT_TRUE(CVar(true).GetBool());
    EXPECT_FALSE(CVar(false).GetBool());
    EXPECT_TRUE(CVar(5).GetBool());
    EXPECT_FALSE(CVar(0).GetBool());
    // A VT_BOOL holding a nonzero value other than VARIANT_TRUE is still true.
    VARIANT odd;
    VariantInit(&odd);
    V_VT(&odd) = VT_BOOL;
    V_BOOL(&odd) = 1;
    EXPECT_TRUE(CVar(odd).GetBool());
}

TEST(CVarConversions, FailuresThrowComErrorWithTheHresult) {
    try {
        CVar(L"not a number").GetInt32();
        FAIL() << "no exception";
    } catch (const _com_error& e) {
        EXPECT_EQ(DISP_E_TYPEMISMATCH, e.Error());
    }
    try {
        CVar(100000).GetInt16();
        FAIL() << "no exception";
    } catch (const _com_error& e) {
        EXPECT_EQ(DISP_E_OVERFLOW, e.Error());
    }
}

TEST(CVarText, ViewsOfEachKind) {
    EXPECT_STREQ(L"42", CVar(42).GetText());
    EXPECT_STREQ(L"-3", CVar(static_cast<short>(-3)).GetText());
    // VariantChangeType with flags 0 gives the numeric text of a boolean.
    EXPECT_STREQ(L"-1", CVar(true).GetText());
    EXPECT_STREQ(L"0", CVar(false).GetText());
    EXPECT_STREQ(L"", CVar().GetText());
    CVar text(L"own text");
    EXPECT_EQ(static_cast<const wchar_t*>(text.bstrVal), text.GetText()) << "no conversion for text";
}

TEST(CVarText, CopiesShareTheCachedTextUntilTheyConvertAgain) {
    CVar original(42);
    const wchar_t* view = original.GetText();
    CVar copy(original);
    CVar assigned;
    assigned = original;
    {
        CVar temporary(original);  // dropping one more reference must not free it
    }
    original = CVar(7);  // the original lets go of the shared text
    EXPECT_STREQ(L"42", view) << "still held by the copies";
    EXPECT_STREQ(L"7", original.GetText());
    EXPECT_STREQ(L"42", copy.GetText());
    EXPECT_STREQ(L"42", assigned.GetText());
    CVar self(9);
    self.GetText();
    self = self;
    EXPECT_STREQ(L"9", self.GetText());
}

std::atomic<const wchar_t*> g_watchedText{nullptr};
std::atomic<int> g_watchedFrees{0};

void WINAPI CountingSysFreeString(BSTR text) {
    if (text != nullptr && text == g_watchedText) ++g_watchedFrees;
    reinterpret_cast<decltype(&SysFreeString)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SysFreeString")))(text);
}

// Copies made and dropped on several threads at once: the shared text is freed
// once, by its last owner, not while the original still holds it.
TEST(CVarText, SharedTextFreedOnceByTheLastOwnerAcrossThreads) {
    testsupport::ImportHook hook(nullptr, "oleaut32.dll", "SysFreeString",
                                 reinterpret_cast<void*>(&CountingSysFreeString));
    ASSERT_TRUE(hook.Installed());
    CVar original(1234);
    g_watchedText = original.GetText();
    g_watchedFrees = 0;
    testsupport::RunTogether(4, [&] {
        for (int i = 0; i < 200000; ++i) {
            CVar copy(original);
            CVar assigned;
            assigned = copy;
        }
    });
    EXPECT_EQ(0, g_watchedFrees.load()) << "freed while the original still held it";
    original = CVar(7);
    EXPECT_EQ(1, g_watchedFrees.load());
    g_watchedText = nullptr;
}

TEST(CVarBytes, RoundTripAndShape) {
    const Bytes data = {0, 1, 0xFE, 0xFF, 0x80};
    CVar bytes(data);
    EXPECT_EQ(VT_ARRAY | VT_UI1, bytes.Type());
    ASSERT_NE(nullptr, bytes.parray);
    EXPECT_EQ(1u, SafeArrayGetDim(bytes.parray));
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(bytes.parray, 1, &lower);
    SafeArrayGetUBound(bytes.parray, 1, &upper);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(4, upper);
    EXPECT_EQ(data, bytes.GetBytes());
    CVar copy(bytes);
    EXPECT_NE(bytes.parray, copy.parray) << "deep copy";
    EXPECT_EQ(data, copy.GetBytes());

    CVar empty(Bytes{});
    EXPECT_EQ(VT_ARRAY | VT_UI1, empty.Type());
    ASSERT_NE(nullptr, empty.parray);
    EXPECT_EQ(0u, empty.parray->rgsabound[0].cElements);
    EXPECT_TRUE(empty.GetBytes().empty());
    EXPECT_TRUE(CVar(L"abc").GetBytes().empty()) << "other kinds give no bytes";
    EXPECT_TRUE(CVar(5).GetBytes().empty());
}

TEST(CVarDate, ToBrokenDownTime) {
    SYSTEMTIME st = {2020, 7, 0, 14, 9, 8, 7, 0};
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
    struct tm t;
    std::memset(&t, 0x5A, sizeof(t));
    ASSERT_TRUE(CVar::FromDate(date).ToTm(t));
    EXPECT_EQ(7, t.tm_sec);
    EXPECT_EQ(8, t.tm_min);
    EXPECT_EQ(9, t.tm_hour);
    EXPECT_EQ(14, t.tm_mday);
    EXPECT_EQ(6, t.tm_mon);
    EXPECT_EQ(120, t.tm_year);
    EXPECT_EQ(0, t.tm_wday);
    EXPECT_EQ(0, t.tm_yday);
    EXPECT_EQ(-1, t.tm_isdst);

    ASSERT_TRUE(CVar::FromDate(0.0).ToTm(t));
    EXPECT_EQ(1899, t.tm_year) << "years below 1900 are the full year";
    EXPECT_EQ(11, t.tm_mon);
    EXPECT_EQ(30, t.tm_mday);
}

TEST(CVarDate, FromBrokenDownTime) {
    struct tm t = {};
    t.tm_year = 110;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 13;
    t.tm_min = 14;
    t.tm_sec = 15;
    CVar value(L"replaced");
    ASSERT_NE(0, value.FromTm(t));
    EXPECT_EQ(VT_DATE, value.Type());
    SYSTEMTIME st = {};
    ASSERT_TRUE(VariantTimeToSystemTime(value.date, &st));
    EXPECT_EQ(2010, st.wYear);
    EXPECT_EQ(3, st.wMonth);
    EXPECT_EQ(5, st.wDay);
    EXPECT_EQ(13, st.wHour);
    EXPECT_EQ(14, st.wMinute);
    EXPECT_EQ(15, st.wSecond);

    struct tm back;
    ASSERT_TRUE(value.ToTm(back));
    EXPECT_EQ(110, back.tm_year);
    EXPECT_EQ(2, back.tm_mon);

    // Fields that name no date fail and leave the value alone.
    struct tm bad = t;
    bad.tm_mon = 12;
    EXPECT_EQ(0, value.FromTm(bad));
    bad = t;
    bad.tm_year = -5000;
    EXPECT_EQ(0, value.FromTm(bad));
    bad = t;
    bad.tm_mday = -1;
    EXPECT_EQ(0, value.FromTm(bad));
    EXPECT_EQ(VT_DATE, value.Type());
    EXPECT_EQ(back.tm_mday, 5);
}

TEST(CVarDate, DayOfWeekDoesNotDecideTheDate) {
    // Day of week, day of year and daylight flag name no part of the date: a tm
    // with them unset or odd (as a streamed record may carry) still converts.
    for (int wday : {-1, 7, 99, 0x7FFFFFFF}) {
        SCOPED_TRACE(wday);
        struct tm t = {};
        t.tm_year = 120;
        t.tm_mon = 4;
        t.tm_mday = 29;
        t.tm_hour = 12;
        t.tm_wday = wday;
        t.tm_yday = -1;
        CVar value;
        ASSERT_NE(0, value.FromTm(t));
        struct tm back;
        ASSERT_TRUE(value.ToTm(back));
        EXPECT_EQ(120, back.tm_year);
        EXPECT_EQ(4, back.tm_mon);
        EXPECT_EQ(29, back.tm_mday);
        EXPECT_EQ(12, back.tm_hour);
    }
}

TEST(ComError, FallbackTexts) {
    struct Case {
        HRESULT hr;
        const wchar_t* text;
    } cases[] = {
        {static_cast<HRESULT>(0x80040205), L"IDispatch error #5"},
        {static_cast<HRESULT>(0x80040201), L"IDispatch error #1"},
        {static_cast<HRESULT>(0x8004FFFF), L"IDispatch error #65023"},
        {static_cast<HRESULT>(0x80040200), L"Unknown error 0x80040200"},
        {static_cast<HRESULT>(0x80050000), L"Unknown error 0x80050000"},
        {static_cast<HRESULT>(0x1234), L"Unknown error 0x1234"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, OS::ComErrorFallbackMessage(c.hr)) << std::hex << c.hr;
}

TEST(ComError, MessageUsesTheSystemTextWithoutLineEnd) {
    const std::wstring text = OS::ComErrorMessage(_com_error(E_OUTOFMEMORY));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(L'\n', text.back());
    EXPECT_NE(L'\r', text.back());
    EXPECT_EQ(std::wstring::npos, text.find(L"Unknown error"));
    // Where the system has no message for the HRESULT, the fallback is used.
    for (DWORD hr : {0x80040205UL, 0x80040200UL}) {
        wchar_t* probe = nullptr;
        const DWORD cch =
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, hr, 0x0400, reinterpret_cast<wchar_t*>(&probe), 0, nullptr);
        if (probe) LocalFree(probe);
        if (cch == 0) {
            EXPECT_EQ(OS::ComErrorFallbackMessage(static_cast<HRESULT>(hr)),
                      OS::ComErrorMessage(_com_error(static_cast<HRESULT>(hr))));
        }
    }
}

// A system message with an insert marker, found by asking the system itself
// (Wine's message texts differ from Windows'); 0 when there is none.
DWORD FindMessageWithInsert() {
    for (DWORD code = 1; code < 16000; ++code) {
        wchar_t* text = nullptr;
        const DWORD cch =
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, code, 0x0400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        const bool found = cch != 0 && text && std::wcsstr(text, L"%1") != nullptr;
        if (text) LocalFree(text);
        if (found) return code;
    }
    return 0;
}

TEST(ComError, SystemTextWithInsertsIsKeptVerbatim) {
    // The markers come back as they are, not expanded from arguments that do not exist.
    const DWORD code = FindMessageWithInsert();
    if (code == 0) GTEST_SKIP() << "no system message with an insert marker";
    const std::wstring text = OS::ComErrorMessage(_com_error(static_cast<HRESULT>(code)));
    EXPECT_NE(std::wstring::npos, text.find(L"%1")) << code;
}

TEST(ComSupport, StringBstrConversions) {
    BSTR text = _com_util::ConvertStringToBSTR("abc");
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(3u, SysStringLen(text));
    EXPECT_STREQ(L"abc", text);
    char* narrow = _com_util::ConvertBSTRToString(text);
    EXPECT_STREQ("abc", narrow);
    delete[] narrow;
    SysFreeString(text);
    EXPECT_EQ(nullptr, _com_util::ConvertStringToBSTR(nullptr));
    EXPECT_EQ(nullptr, _com_util::ConvertBSTRToString(nullptr));
    // The narrow constructors of the wrappers go through these functions.
    _bstr_t wrapped("xyz");
    EXPECT_STREQ(L"xyz", static_cast<const wchar_t*>(wrapped));
    EXPECT_STREQ("xyz", static_cast<const char*>(wrapped));
}

}  // namespace
