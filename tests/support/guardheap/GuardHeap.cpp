// The checked build's guard-page heap (a test tool, linked into every program and
// DLL of a WDX_CHECKED tree; see the README's "Checked build").
//
// Every operator new/delete of the module, and every malloc/calloc/realloc/free
// that its objects call (the link wraps them: -Wl,--wrap=malloc ...), gets a
// region of its own:
//
//   [header | 16 marker bytes | block | slack] [no-access page]
//
// The block ends where the no-access page begins, so the first byte read or
// written past it faults. Placement: malloc and aligned new keep their alignment
// (16, or the asked one), so up to alignment-1 bytes of slack follow the block;
// plain new places the block at the largest power of two (up to 16) that divides
// its size, which is byte-exact for char and wchar_t buffers and keeps every
// array of T aligned for T. WDX_GUARDHEAP=aligned places plain new like malloc.
// The marker bytes before the block and the slack after it are checked at free.
//
// A freed block's pages are decommitted (any touch faults) and its address range
// stays reserved in a quarantine ring, bounded by count and bytes, before it is
// reused for a block of the same size or released. The state is one per process,
// shared by the modules' copies of this code; a free finds its block in a table
// of live blocks, and asks the system only about pointers that are not in it.
//
// A block freed twice, freed by the wrong function or with the wrong size, or a
// pointer that is not the start of one of our blocks, stops the program with one
// line on stderr. free/realloc pass pointers of the C runtime's own heap (results
// of msvcrt functions such as _wcsdup) to the real functions. The link wraps
// libssp's __stack_chk_fail and __chk_fail as well, so a smashed canary or a
// fortified function's check says so. In a program (not a DLL) a vectored handler
// names the block that a faulting access hit, and says when a trapped
// undefined-behaviour check stops it.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <malloc.h>
#include <new>

extern "C" {
void* __real_malloc(size_t cb);
void* __real_realloc(void* p, size_t cb);
void __real_free(void* p);
void* __wrap_malloc(size_t cb);
void* __wrap_calloc(size_t count, size_t cb);
void* __wrap_realloc(void* p, size_t cb);
void __wrap_free(void* p);
[[noreturn]] void __wrap___stack_chk_fail();
[[noreturn]] void __wrap___chk_fail();
}
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

enum Kind : uint32_t { kMalloc, kNew, kNewArray, kNewAligned, kNewArrayAligned };
const char* const kAllocators[] = {"malloc", "operator new", "operator new[]", "aligned operator new",
                                   "aligned operator new[]"};
const char* const kDeallocators[] = {"free", "operator delete", "operator delete[]", "aligned operator delete",
                                     "aligned operator delete[]"};

const uint64_t kMagic = 0x5744584775617264ull;  // "WDXGuard"
const size_t kMarkerBytes = 16;
const unsigned char kMarker = 0xFD;
const unsigned char kFresh = 0xCD;  // new blocks are not zero: reads of unset bytes show
const size_t kDefaultAlign = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
const size_t kUnsized = ~size_t{0};

struct Header {
    uint64_t magic;
    unsigned char* user;
    size_t size;
    size_t committed;  // bytes from the region's start up to the no-access page
    Kind kind;
    uint64_t check;
};

uint64_t Checksum(const Header& h) {
    return h.magic ^ reinterpret_cast<uintptr_t>(h.user) ^ (h.size * 31) ^ (h.committed * 7) ^ h.kind;
}

// A freed region waiting to be released.
struct Freed {
    unsigned char* base;
    unsigned char* user;
    size_t size;
    size_t reserved;
    Kind kind;
};

#ifdef _WIN64
const size_t kQuarantineCount = 4096;
const size_t kQuarantineBytes = size_t{1} << 30;
#else
const size_t kQuarantineCount = 1024;  // 2 GB of address space: keep 64 MB of it at most
const size_t kQuarantineBytes = size_t{64} << 20;
#endif

// A live block by its start: a free finds its header here without asking the
// system (VirtualQuery is the dearest call of a free under Wine).
struct Live {
    const void* user;  // null: never used; kGone: removed
    Header* header;
};
const void* const kGone = reinterpret_cast<const void*>(uintptr_t{1});  // the same in every module

// Regions that left the quarantine, kept reserved (all no-access) for the next
// block of the same size: reserving and releasing cost more than committing.
const size_t kSparePages = 17;
const size_t kSpareDepth = 64;

// The heap's state, one per process: every module of a checked tree links a copy
// of this code, and a block one module allocates may be freed by another.
struct State {
    SRWLOCK lock;
    size_t page;
    bool exact;
    Freed ring[kQuarantineCount];
    size_t ringFirst, ringCount, ringBytes;
    Live* live;
    size_t liveCapacity, liveUsed;  // used: live and removed slots
    unsigned char* spare[kSparePages + 1][kSpareDepth];
    size_t spareCount[kSparePages + 1];
};
State* volatile g_state = nullptr;

// --- reporting without the heap -----------------------------------------------------
struct Line {
    char text[512];
    size_t len = 0;
    Line& operator<<(const char* s) {
        while (*s != '\0' && len + 1 < sizeof text) text[len++] = *s++;
        return *this;
    }
    Line& operator<<(size_t n) {
        char digits[24];
        int i = 0;
        do digits[i++] = static_cast<char>('0' + n % 10);
        while ((n /= 10) != 0);
        while (i > 0 && len + 1 < sizeof text) text[len++] = digits[--i];
        return *this;
    }
    Line& Hex(const void* p) {
        *this << "0x";
        const uintptr_t v = reinterpret_cast<uintptr_t>(p);
        for (int shift = sizeof v * 8 - 4; shift >= 0; shift -= 4) {
            const char d[2] = {"0123456789abcdef"[(v >> shift) & 15], '\0'};
            *this << d;
        }
        return *this;
    }
    void Write() {
        *this << "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(len), &written, nullptr);
    }
};

[[noreturn]] void Stop(Line& line) {
    line.Write();
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) Sleep(INFINITE);
}

Line& Describe(Line& line, const void* user, size_t size, Kind kind) {
    return line.Hex(user) << " (" << size << " bytes from " << kAllocators[kind] << ")";
}

// --- the process's state ----------------------------------------------------------
// The first module to get here publishes its state through a mapping named after
// the process; the others find it there. The mapping stays for the process's life.
State& Heap() {
    if (State* state = g_state) return *state;
    State* mine = static_cast<State*>(VirtualAlloc(nullptr, sizeof(State), MEM_COMMIT, PAGE_READWRITE));
    if (mine == nullptr) {
        Line line;
        Stop(line << "guard heap: no memory for its own state");
    }
    InitializeSRWLock(&mine->lock);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    mine->page = info.dwPageSize;
    char mode[16] = {};
    const DWORD cch = GetEnvironmentVariableA("WDX_GUARDHEAP", mode, sizeof mode);
    mine->exact = !(cch > 0 && cch < sizeof mode && std::strcmp(mode, "aligned") == 0);
    static const wchar_t kPrefix[] = L"Local\\wdx-guardheap-";
    wchar_t name[sizeof kPrefix / sizeof kPrefix[0] + 8] = {};
    std::memcpy(name, kPrefix, sizeof kPrefix);
    size_t at = sizeof kPrefix / sizeof kPrefix[0] - 1;
    for (DWORD pid = GetCurrentProcessId(), shift = 32; shift > 0; shift -= 4)
        name[at++] = L"0123456789abcdef"[(pid >> (shift - 4)) & 15];
    // The module that publishes keeps the mapping open (the name lives as long as a
    // handle does); the others let go of theirs at once, since a DLL loaded and
    // unloaded many times must not leave one behind each time.
    State* winner = mine;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(void*), name);
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(void*)) : nullptr;
    if (view != nullptr) {
        State* first = static_cast<State*>(InterlockedCompareExchangePointer(static_cast<void**>(view), mine, nullptr));
        if (first != nullptr) {
            winner = first;
            UnmapViewOfFile(view);
            CloseHandle(mapping);
        }
    } else if (mapping != nullptr) {
        CloseHandle(mapping);
    }
    if (State* raced = static_cast<State*>(
            InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_state), winner, nullptr)))
        winner = raced;
    if (winner != mine) VirtualFree(mine, 0, MEM_RELEASE);
    return *winner;
}

size_t Slot(const State& s, const void* user) {
    uint64_t x = reinterpret_cast<uintptr_t>(user);  // blocks of one size share their low bits: mix them all
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return static_cast<size_t>(x) & (s.liveCapacity - 1);
}

// Under the exclusive lock. A table that cannot grow leaves the block to the slow path.
void AddLive(State& s, const void* user, Header* header) {
    if ((s.liveUsed + 1) * 2 > s.liveCapacity) {
        size_t count = 0;
        for (size_t i = 0; i < s.liveCapacity; ++i) count += s.live[i].user != nullptr && s.live[i].user != kGone;
        size_t capacity = 4096;
        while (capacity < (count + 1) * 4) capacity *= 2;
        Live* table = static_cast<Live*>(VirtualAlloc(nullptr, capacity * sizeof(Live), MEM_COMMIT, PAGE_READWRITE));
        if (table == nullptr) return;
        Live* old = s.live;
        const size_t oldCapacity = s.liveCapacity;
        s.live = table;
        s.liveCapacity = capacity;
        s.liveUsed = 0;
        for (size_t i = 0; i < oldCapacity; ++i)
            if (old[i].user != nullptr && old[i].user != kGone) AddLive(s, old[i].user, old[i].header);
        if (old != nullptr) VirtualFree(old, 0, MEM_RELEASE);
    }
    size_t i = Slot(s, user);
    while (s.live[i].user != nullptr && s.live[i].user != kGone) i = (i + 1) & (s.liveCapacity - 1);
    s.liveUsed += s.live[i].user == nullptr;
    s.live[i] = Live{user, header};
}

// The live block that starts at user, or null; take removes it. Under the lock.
Header* FindLive(State& s, const void* user, bool take) {
    if (s.liveCapacity == 0) return nullptr;
    for (size_t i = Slot(s, user); s.live[i].user != nullptr; i = (i + 1) & (s.liveCapacity - 1)) {
        if (s.live[i].user != user) continue;
        Header* header = s.live[i].header;
        if (take) s.live[i].user = kGone;
        return header;
    }
    return nullptr;
}

unsigned char* TakeSpare(State& s, size_t reserved) {
    const size_t pages = reserved / s.page;
    if (pages > kSparePages || s.spareCount[pages] == 0) return nullptr;
    return s.spare[pages][--s.spareCount[pages]];
}

void ReleaseRegion(State& s, unsigned char* base, size_t reserved) {
    const size_t pages = reserved / s.page;
    if (pages <= kSparePages && s.spareCount[pages] < kSpareDepth) {
        s.spare[pages][s.spareCount[pages]++] = base;
    } else {
        VirtualFree(base, 0, MEM_RELEASE);
    }
}

// --- regions --------------------------------------------------------------------

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

void* Allocate(size_t size, size_t align, Kind kind, bool zero) {
    State& s = Heap();
    if (size > (size_t{1} << (sizeof(size_t) * 8 - 2))) return nullptr;
    const size_t cb = size == 0 ? 1 : size;
    const size_t committed = RoundUp(sizeof(Header) + kMarkerBytes + cb + align, s.page);
    AcquireSRWLockExclusive(&s.lock);
    unsigned char* base = TakeSpare(s, committed + s.page);
    ReleaseSRWLockExclusive(&s.lock);
    if (base == nullptr)
        base = static_cast<unsigned char*>(VirtualAlloc(nullptr, committed + s.page, MEM_RESERVE, PAGE_NOACCESS));
    if (base == nullptr) return nullptr;
    if (VirtualAlloc(base, committed, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    unsigned char* end = base + committed;
    unsigned char* user = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(end - cb) & ~(align - 1));
    Header* h = reinterpret_cast<Header*>(base);
    *h = Header{kMagic, user, size, committed, kind, 0};
    h->check = Checksum(*h);
    std::memset(user - kMarkerBytes, kMarker, kMarkerBytes);
    std::memset(user + size, kMarker, static_cast<size_t>(end - (user + size)));
    // The first 64 KB only: a huge block the code never fills stays untouched memory.
    if (!zero) std::memset(user, kFresh, size < 65536 ? size : 65536);
    AcquireSRWLockExclusive(&s.lock);
    AddLive(s, user, h);
    ReleaseSRWLockExclusive(&s.lock);
    return user;
}

// Plain new: the largest power of two up to the default that divides the size.
size_t NaturalAlign(size_t size) {
    if (!Heap().exact || size == 0) return kDefaultAlign;
    const size_t low = size & (~size + 1);
    return low < kDefaultAlign ? low : kDefaultAlign;
}

bool Readable(const MEMORY_BASIC_INFORMATION& mbi) {
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return mbi.State == MEM_COMMIT && (mbi.Protect & readable) != 0 && (mbi.Protect & PAGE_GUARD) == 0;
}

// The live region holding address p, or null.
Header* LiveRegion(const void* p) {
    MEMORY_BASIC_INFORMATION mbi;
    if (p == nullptr || VirtualQuery(p, &mbi, sizeof mbi) == 0 || mbi.AllocationBase == nullptr) return nullptr;
    MEMORY_BASIC_INFORMATION head;
    if (VirtualQuery(mbi.AllocationBase, &head, sizeof head) == 0 || !Readable(head) ||
        head.RegionSize < sizeof(Header))
        return nullptr;
    Header* h = static_cast<Header*>(mbi.AllocationBase);
    if (h->magic != kMagic || h->check != Checksum(*h)) return nullptr;
    return h;
}

// The quarantined region holding address p (copied out), if any.
bool FreedRegion(const void* p, Freed* out, bool wait) {
    State& s = Heap();
    if (wait) {
        AcquireSRWLockShared(&s.lock);
    } else if (!TryAcquireSRWLockShared(&s.lock)) {
        return false;
    }
    bool found = false;
    const unsigned char* at = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < s.ringCount && !found; ++i) {
        const Freed& f = s.ring[(s.ringFirst + i) % kQuarantineCount];
        if (at >= f.base && at < f.base + f.reserved) {
            *out = f;
            found = true;
        }
    }
    ReleaseSRWLockShared(&s.lock);
    return found;
}

void Quarantine(const Freed& freed) {
    State& s = Heap();
    VirtualFree(freed.base, freed.reserved - s.page, MEM_DECOMMIT);
    AcquireSRWLockExclusive(&s.lock);
    while (s.ringCount > 0 && (s.ringCount == kQuarantineCount || s.ringBytes + freed.reserved > kQuarantineBytes)) {
        Freed& oldest = s.ring[s.ringFirst];
        ReleaseRegion(s, oldest.base, oldest.reserved);
        s.ringBytes -= oldest.reserved;
        s.ringFirst = (s.ringFirst + 1) % kQuarantineCount;
        --s.ringCount;
    }
    s.ring[(s.ringFirst + s.ringCount) % kQuarantineCount] = freed;
    ++s.ringCount;
    s.ringBytes += freed.reserved;
    ReleaseSRWLockExclusive(&s.lock);
}

bool CrtOwns(void* p) { return HeapValidate(reinterpret_cast<HANDLE>(_get_heap_handle()), 0, p) != FALSE; }

// Frees p by the given function; false when p is none of ours (the caller decides).
bool Release(void* p, Kind by, size_t size) {
    State& s = Heap();
    AcquireSRWLockExclusive(&s.lock);
    Header* h = FindLive(s, p, true);
    ReleaseSRWLockExclusive(&s.lock);
    if (h == nullptr) h = LiveRegion(p);
    Line line;
    line << "guard heap: ";
    if (h == nullptr) {
        Freed freed;
        if (!FreedRegion(p, &freed, true)) return false;
        if (freed.user == p) {
            Describe(line << "block ", freed.user, freed.size, freed.kind)
                << " freed twice, again by " << kDeallocators[by];
        } else {
            Describe(line << kDeallocators[by] << " of ", p, 0, by) << " inside the freed block ";
            Describe(line, freed.user, freed.size, freed.kind);
        }
        Stop(line);
    }
    if (h->user != p) {
        line << kDeallocators[by] << " of ";
        line.Hex(p) << ", which is not the start of block ";
        Stop(Describe(line, h->user, h->size, h->kind));
    }
    if (h->kind != by) {
        Stop(Describe(line << "block ", h->user, h->size, h->kind)
             << " freed by the wrong function, " << kDeallocators[by]);
    }
    if (size != kUnsized && size != h->size) {
        Stop(Describe(line << "block ", h->user, h->size, h->kind) << " freed with the size " << size);
    }
    unsigned char* base = reinterpret_cast<unsigned char*>(h);
    const unsigned char* end = base + h->committed;
    for (const unsigned char* at = h->user - kMarkerBytes; at < end; ++at) {
        if (at == h->user) at += h->size;
        if (at < end && *at != kMarker) {
            const bool before = at < h->user;
            Describe(line << "block ", h->user, h->size, h->kind)
                << (before ? " was written before its start" : " was written past its end (in its alignment slack)")
                << ", found at free by " << kDeallocators[by];
            Stop(line);
        }
    }
    Quarantine(Freed{base, h->user, h->size, h->committed + s.page, h->kind});
    return true;
}

void ReleaseOrStop(void* p, Kind by, size_t size) {
    if (p == nullptr || Release(p, by, size)) return;
    Line line;
    line << "guard heap: " << kDeallocators[by] << " of ";
    line.Hex(p) << ", which is no block of ours";
    Stop(line);
}

// --- faults in a program: name the block --------------------------------------------
LONG CALLBACK OnFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    Line line;
    const unsigned char* pc = static_cast<const unsigned char*>(rec->ExceptionAddress);
    if (rec->ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION && pc[0] == 0x0F && pc[1] == 0x0B) {  // ud2
        line << "checked build: illegal instruction at ";
        line.Hex(rec->ExceptionAddress) << " (a trapped undefined-behaviour check)";
        line.Write();
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (rec->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || rec->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const char* access = rec->ExceptionInformation[0] == 1 ? "write" : "read";
    const unsigned char* at = reinterpret_cast<const unsigned char*>(rec->ExceptionInformation[1]);
    line << "guard heap: " << access << " at ";
    line.Hex(at);
    if (const Header* h = LiveRegion(at)) {
        if (at < h->user + h->size) return EXCEPTION_CONTINUE_SEARCH;
        line << ", " << static_cast<size_t>(at - (h->user + h->size)) << " bytes past the end of block ";
        Describe(line, h->user, h->size, h->kind).Write();
        return EXCEPTION_CONTINUE_SEARCH;
    }
    Freed freed;
    if (FreedRegion(at, &freed, false)) {
        line << ", in the freed block ";
        Describe(line, freed.user, freed.size, freed.kind).Write();
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Installed once per process, by the program's own copy (each checked DLL has one too).
struct FaultReporter {
    FaultReporter() {
        if (GetModuleHandleW(nullptr) == reinterpret_cast<HMODULE>(&__ImageBase))
            AddVectoredExceptionHandler(0, &OnFault);
    }
} g_faultReporter;

[[noreturn]] void OutOfMemory() { throw std::bad_alloc(); }

void* NewOrThrow(size_t size, size_t align, Kind kind) {
    void* p = Allocate(size, align, kind, false);
    if (p == nullptr) OutOfMemory();
    return p;
}

}  // namespace

// --- the C runtime's functions, as the link wraps them ------------------------------------
extern "C" void* __wrap_malloc(size_t cb) { return Allocate(cb, kDefaultAlign, kMalloc, false); }

extern "C" void* __wrap_calloc(size_t count, size_t cb) {
    if (cb != 0 && count > ~size_t{0} / cb) return nullptr;
    return Allocate(count * cb, kDefaultAlign, kMalloc, true);
}

extern "C" void __wrap_free(void* p) {
    if (p == nullptr || Release(p, kMalloc, kUnsized)) return;
    if (CrtOwns(p)) return __real_free(p);
    ReleaseOrStop(p, kMalloc, kUnsized);
}

extern "C" void* __wrap_realloc(void* p, size_t cb) {
    if (p == nullptr) return __wrap_malloc(cb);
    State& s = Heap();
    AcquireSRWLockShared(&s.lock);
    const Header* h = FindLive(s, p, false);
    ReleaseSRWLockShared(&s.lock);
    if (h == nullptr) h = LiveRegion(p);
    if (h == nullptr && CrtOwns(p)) return __real_realloc(p, cb);
    if (cb == 0) {
        ReleaseOrStop(p, kMalloc, kUnsized);
        return nullptr;
    }
    void* moved = __wrap_malloc(cb);
    if (moved == nullptr) return nullptr;
    if (h != nullptr && h->user == p) std::memcpy(moved, p, h->size < cb ? h->size : cb);
    ReleaseOrStop(p, kMalloc, kUnsized);
    return moved;
}

// libssp's own reports end in a bare trap under Wine: say what stopped the program.
extern "C" void __wrap___stack_chk_fail() {
    Line line;
    Stop(line << "checked build: stack buffer overrun (a stack canary was overwritten)");
}

extern "C" void __wrap___chk_fail() {
    Line line;
    Stop(line << "checked build: buffer overflow caught by a fortified C library function");
}

// --- operator new and delete, every form -------------------------------------------
void* operator new(size_t size) { return NewOrThrow(size, NaturalAlign(size), kNew); }
void* operator new[](size_t size) { return NewOrThrow(size, NaturalAlign(size), kNewArray); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size, NaturalAlign(size), kNew, false);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size, NaturalAlign(size), kNewArray, false);
}
void* operator new(size_t size, std::align_val_t al) { return NewOrThrow(size, static_cast<size_t>(al), kNewAligned); }
void* operator new[](size_t size, std::align_val_t al) {
    return NewOrThrow(size, static_cast<size_t>(al), kNewArrayAligned);
}
void* operator new(size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<size_t>(al), kNewAligned, false);
}
void* operator new[](size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<size_t>(al), kNewArrayAligned, false);
}

void operator delete(void* p) noexcept { ReleaseOrStop(p, kNew, kUnsized); }
void operator delete[](void* p) noexcept { ReleaseOrStop(p, kNewArray, kUnsized); }
void operator delete(void* p, size_t size) noexcept { ReleaseOrStop(p, kNew, size); }
void operator delete[](void* p, size_t size) noexcept { ReleaseOrStop(p, kNewArray, size); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ReleaseOrStop(p, kNew, kUnsized); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ReleaseOrStop(p, kNewArray, kUnsized); }
void operator delete(void* p, std::align_val_t) noexcept { ReleaseOrStop(p, kNewAligned, kUnsized); }
void operator delete[](void* p, std::align_val_t) noexcept { ReleaseOrStop(p, kNewArrayAligned, kUnsized); }
void operator delete(void* p, size_t size, std::align_val_t) noexcept { ReleaseOrStop(p, kNewAligned, size); }
void operator delete[](void* p, size_t size, std::align_val_t) noexcept { ReleaseOrStop(p, kNewArrayAligned, size); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    ReleaseOrStop(p, kNewAligned, kUnsized);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    ReleaseOrStop(p, kNewArrayAligned, kUnsized);
}
