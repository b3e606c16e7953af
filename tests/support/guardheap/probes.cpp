// One memory error per subcommand; each must stop the checked program with a
// clear line on stderr (tests/support/guardheap/probes.sh runs them all).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Hides where a pointer or number came from, so only the run-time checks can see the error.
template <typename T>
T Opaque(T value) {
    asm volatile("" : "+r"(value));
    return value;
}

[[gnu::noinline]] void OverrunStack(size_t count) {
    char buffer[16];
    char* at = Opaque(buffer);
    for (size_t i = 0; i < count; ++i) at[i] = 'x';
    std::printf("%c\n", at[0]);
}

int Run(const char* probe) {
    if (std::strcmp(probe, "clean") == 0) {
        char* p = Opaque(new char[13]);
        p[12] = 'x';
        delete[] p;
        void* q = Opaque(std::realloc(std::malloc(7), 40));
        std::free(q);
        return 0;
    }
    if (std::strcmp(probe, "write-past") == 0) Opaque(new char[13])[13] = 'x';
    if (std::strcmp(probe, "read-past") == 0) std::printf("%d\n", Opaque(static_cast<char*>(std::malloc(32)))[32]);
    if (std::strcmp(probe, "read-after-free") == 0) {
        int* p = Opaque(new int[4]{1, 2, 3, 4});
        delete[] p;
        std::printf("%d\n", Opaque(p)[1]);
    }
    if (std::strcmp(probe, "double-free") == 0) {
        int* p = Opaque(new int(1));
        delete p;
        delete Opaque(p);
    }
    if (std::strcmp(probe, "wrong-free") == 0) delete Opaque(static_cast<int*>(std::malloc(sizeof(int))));
    if (std::strcmp(probe, "vector-index") == 0) {
        std::vector<int> v(4);
        std::printf("%d\n", v[Opaque(v.size())]);
    }
    if (std::strcmp(probe, "signed-overflow") == 0) std::printf("%d\n", Opaque(INT_MAX) + Opaque(1));
    if (std::strcmp(probe, "stack-overrun") == 0) OverrunStack(Opaque(size_t{40}));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int rc = Run(argv[1]);
    if (rc != 0) std::fprintf(stderr, "probe %s: the program went on\n", argv[1]);
    return rc;
}
