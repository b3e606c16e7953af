// Proves a 32-bit run is real: this i686 program must run as a WOW64 process of a
// 64-bit system, and the DLL it is given must be an i386 image that loads into it.
//   wow64_check <dll>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <type_traits>

static_assert(sizeof(void*) == 4, "wow64_check is built for i686 only");

namespace {

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using File = std::unique_ptr<std::remove_pointer_t<HANDLE>, FileCloser>;
struct ModuleFreer {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

bool ReadAt(HANDLE file, LONG offset, void* into, DWORD cb) {
    DWORD cbRead = 0;
    return SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ReadFile(file, into, cb, &cbRead, nullptr) && cbRead == cb;
}

// The COFF machine field of a PE file, 0 when the file is none.
WORD MachineOf(const char* path) {
    HANDLE raw = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return 0;
    File file(raw);
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER coff{};
    if (!ReadAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        !ReadAt(file.get(), dos.e_lfanew, &signature, sizeof signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file.get(), dos.e_lfanew + 4, &coff, sizeof coff))
        return 0;
    return coff.Machine;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wow64_check <dll>\n");
        return 2;
    }
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        std::printf("FAILED: this 32-bit process is not under WOW64 (IsWow64Process: %d)\n", wow64);
        return 1;
    }
    const WORD machine = MachineOf(argv[1]);
    if (machine != IMAGE_FILE_MACHINE_I386) {
        std::printf("FAILED: %s has machine type 0x%x, not i386 (0x14c)\n", argv[1], machine);
        return 1;
    }
    HMODULE loaded = LoadLibraryA(argv[1]);
    const DWORD error = GetLastError();
    Module dll(loaded);
    if (!dll) {
        std::printf("FAILED: %s does not load into this 32-bit process (error %lu)\n", argv[1], error);
        return 1;
    }
    std::printf("a 32-bit process under WOW64; %s: machine i386 (0x14c), loaded\n", argv[1]);
    return 0;
}
