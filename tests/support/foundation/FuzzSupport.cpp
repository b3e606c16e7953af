#include "FuzzSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testsupport {

namespace {

FuzzRun* g_current = nullptr;

unsigned SeedFromEnvironment(unsigned fallback) {
    char text[32] = {};
    const DWORD cch = GetEnvironmentVariableA("WDX_FUZZ_SEED", text, sizeof text);
    if (cch == 0 || cch >= sizeof text) return fallback;
    return static_cast<unsigned>(std::strtoul(text, nullptr, 0));
}

}  // namespace

int FuzzRounds(int full) {
    char text[8] = {};
    const DWORD cch = GetEnvironmentVariableA("WDX_FUZZ_SHARE", text, sizeof text);
    const long percent = cch == 0 || cch >= sizeof text ? 100 : std::strtol(text, nullptr, 10);
    if (percent < 1 || percent >= 100) return full;
    const int rounds = static_cast<int>(static_cast<long long>(full) * percent / 100);
    std::printf("randomized run: %d of %d rounds (WDX_FUZZ_SHARE=%ld)\n", rounds, full, percent);
    return rounds > 0 ? rounds : 1;
}

FuzzRun::FuzzRun(const char* what, unsigned defaultSeed)
    : m_what(what != nullptr ? what : "fuzz"), m_seed(SeedFromEnvironment(defaultSeed)), m_rng(m_seed) {
    g_current = this;
    // A read past the data ends the process before gtest can report it: say
    // which input it was first.
    m_handler = AddVectoredExceptionHandler(1, &FuzzRun::OnException);
}

FuzzRun::~FuzzRun() {
    if (m_handler != nullptr) RemoveVectoredExceptionHandler(m_handler);
    g_current = nullptr;
}

void FuzzRun::SetBytes(const void* data, size_t cb) {
    m_bytes.assign(static_cast<const char*>(data), cb);
    m_isText = false;
}

void FuzzRun::SetText(const std::wstring& text) {
    m_bytes.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    m_isText = true;
}

std::string FuzzRun::Describe() const {
    std::string out;
    char piece[16];
    if (!m_isText) {
        out = std::to_string(m_bytes.size()) + " bytes:";
        for (unsigned char b : m_bytes) {
            std::snprintf(piece, sizeof piece, " %02x", b);
            out += piece;
        }
        return out;
    }
    out = "text of " + std::to_string(m_bytes.size() / sizeof(wchar_t)) + " units: \"";
    for (size_t i = 0; i + 1 < m_bytes.size(); i += sizeof(wchar_t)) {
        wchar_t c;
        std::memcpy(&c, m_bytes.data() + i, sizeof c);
        if (c >= 0x20 && c < 0x7f && c != L'\\' && c != L'"') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(piece, sizeof piece, "\\u%04x", static_cast<unsigned>(c));
            out += piece;
        }
    }
    return out + "\"";
}

bool FuzzRun::Passed(int round) {
    m_round = round;
    if (!::testing::Test::HasFailure()) return true;
    ADD_FAILURE() << m_what << ": round " << round << " failed; repeat with WDX_FUZZ_SEED=" << m_seed
                  << "; input: " << Describe();
    return false;
}

LONG CALLBACK FuzzRun::OnException(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (g_current != nullptr && (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW ||
                                 code == EXCEPTION_ILLEGAL_INSTRUCTION)) {
        std::fprintf(stderr, "%s: exception 0x%08lx after %d rounds; repeat with WDX_FUZZ_SEED=%u; input: %s\n",
                     g_current->m_what.c_str(), static_cast<unsigned long>(code), g_current->m_round + 1,
                     g_current->m_seed, g_current->Describe().c_str());
        std::fflush(stderr);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace testsupport
