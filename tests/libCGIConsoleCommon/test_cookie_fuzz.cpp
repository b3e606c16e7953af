// Generated cookie headers through both cookie parsers: every field stays
// bounded and terminated, nothing is written outside the record.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <random>

#include "ConsoleTestSupport.h"
#include "FuzzSupport.h"

namespace {

const int kHeaders = 100000;

class HeaderGenerator {
public:
    std::wstring Next() {
        const size_t targets[] = {1022, 1023, 1024, 2046, 2047, 2048, Pick(4096), Pick(64)};
        const size_t target = targets[Pick(8)];
        std::wstring header;
        while (header.size() < target) {
            header += Name();
            if (Pick(5)) header += L'=';
            header += Value(Pick(3) == 0 ? target : Pick(40));
            if (Pick(6)) header += Pick(2) ? L"; " : L";";
        }
        return header;
    }

private:
    size_t Pick(size_t n) { return static_cast<size_t>(m_rng() % n); }
    std::wstring Name() {
        static const wchar_t* const names[] = {L"key",  L"stamp",          L"session",    L"timestamp",
                                               L" key", L"LoginNameIndex", L"session_id", L"a",
                                               L"",     L"k\u00e9y"};
        return names[Pick(10)];
    }
    std::wstring Value(size_t length) {
        static const wchar_t specials[] = L"\r\n=:; ";
        std::wstring value;
        for (size_t i = 0; i < length; ++i) {
            const size_t roll = Pick(20);
            value += roll == 0   ? specials[Pick(6)]
                     : roll == 1 ? static_cast<wchar_t>(0x80 + Pick(0xFF00))
                                 : static_cast<wchar_t>(L'0' + Pick(43));
        }
        return value;
    }
    std::mt19937 m_rng{20261208};
};

struct GuardedSession {
    unsigned char before[64];
    plm::SLoginSession session;
    unsigned char after[64];
};

bool Intact(const unsigned char (&guard)[64]) {
    for (unsigned char byte : guard)
        if (byte != 0xA5) return false;
    return true;
}

bool Bounded(const wchar_t* field, size_t maxChars) {
    const wchar_t* end = wmemchr(field, L'\0', plm::kCookieFieldChars);
    return end && static_cast<size_t>(end - field) <= maxChars;
}

bool IsCleanToken(const std::wstring& text) {
    return !text.empty() && text.find_first_of(L":;\n=") == std::wstring::npos;
}

TEST(CookieFuzz, GeneratedHeaders) {
    consoletest::TestHost test;
    HeaderGenerator generator;
    GuardedSession* guarded = new GuardedSession;
    size_t failures = 0;
    for (int i = 0, headers = testsupport::FuzzRounds(kHeaders); i < headers && failures < 5; ++i) {
        const std::wstring header = generator.Next();
        memset(guarded, 0xA5, sizeof(*guarded));
        plm::ParseCookieValue(header.c_str(), guarded->session, test.host);
        const plm::SLoginSession& s = guarded->session;
        const bool fieldsOk = Intact(guarded->before) && Intact(guarded->after) && Bounded(s.key, 1023) &&
                              Bounded(s.session, 1023) && Bounded(s.stamp, 1023) && s.nSSOResult == 1 &&
                              s.ssoResponse[0] == '\0' && s.virtualPath[0] == '\0';
        plm::CookieSet cookies;
        plm::ParseCookieSet(header.c_str(), cookies);
        bool setOk = true;
        for (const auto& cookie : cookies)
            setOk = setOk && IsCleanToken(cookie.first) && cookie.first[0] != L' ' && IsCleanToken(cookie.second);
        if (!fieldsOk || !setOk) {
            ++failures;
            ADD_FAILURE() << "header " << i << " (" << header.size() << " characters) fields " << fieldsOk << " set "
                          << setOk;
        }
    }
    delete guarded;
}

}  // namespace
