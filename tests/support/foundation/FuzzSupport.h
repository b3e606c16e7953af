// Randomized runs of many inputs. The seed can be given (WDX_FUZZ_SEED) to
// repeat a run; a run that fails a check, or crashes on an input, prints its
// seed and the input that failed.
#pragma once
#include <windows.h>

#include <cstddef>
#include <random>
#include <string>

namespace testsupport {

// The rounds a randomized run makes: full, or the share of it that
// WDX_FUZZ_SHARE gives in percent (1 to 100), for runs that must fit a time bound.
int FuzzRounds(int full);

class FuzzRun {
public:
    // The seed is WDX_FUZZ_SEED when it is set, else defaultSeed. Only one run at a time.
    FuzzRun(const char* what, unsigned defaultSeed);
    ~FuzzRun();
    FuzzRun(const FuzzRun&) = delete;
    FuzzRun& operator=(const FuzzRun&) = delete;

    unsigned Seed() const { return m_seed; }
    std::mt19937& Rng() { return m_rng; }

    // The input about to be tested, shown as bytes in hexadecimal or as UTF-16 text.
    void SetBytes(const void* data, size_t cb);
    void SetText(const std::wstring& text);
    // After each input: true while no check has failed; on the first failure,
    // reports the run, the round, the seed and the input, and returns false.
    bool Passed(int round);

    // The current input as printable text.
    std::string Describe() const;

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* info);

    std::string m_what;
    unsigned m_seed;
    std::mt19937 m_rng;
    std::string m_bytes;
    bool m_isText = false;
    int m_round = -1;
    PVOID m_handler = nullptr;
};

}  // namespace testsupport
