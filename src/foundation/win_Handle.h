// Owners of Win32 resources. One small type per kind of handle, so that every
// early return releases what was acquired. No raw CloseHandle/RegCloseKey elsewhere.
#pragma once
#include <windows.h>
#include <utility>

namespace OS {

// Traits say what "empty" means for a handle kind and how to release it.
struct FileHandleTraits {  // files and pipes: empty is INVALID_HANDLE_VALUE
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return ::CloseHandle(h); }
};
struct KernelHandleTraits {  // events, threads, processes: empty is NULL
    static HANDLE Invalid() { return nullptr; }
    static BOOL Close(HANDLE h) { return ::CloseHandle(h); }
};
struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static LONG Close(HKEY h) { return ::RegCloseKey(h); }
};
struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static BOOL Close(HMODULE h) { return ::FreeLibrary(h); }
};
struct FindTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static BOOL Close(HANDLE h) { return ::FindClose(h); }
};

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : m_value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return m_value; }
    bool valid() const { return m_value != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }

    void reset(T value = Traits::Invalid()) {
        if (valid()) Traits::Close(m_value);
        m_value = value;
    }
    // Releases a held value and returns what the release call returned (for a
    // registry key, its Win32 code); call it only when valid().
    decltype(Traits::Close(T())) close() { return Traits::Close(release()); }
    // Hands ownership to the caller, who must release the value.
    T release() { return std::exchange(m_value, Traits::Invalid()); }
    // Releases the old value before handing out the address for an out-parameter.
    T* put() {
        reset();
        return &m_value;
    }

private:
    T m_value = Traits::Invalid();
};

using UniqueFile = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
using UniqueRegKey = UniqueResource<HKEY, RegKeyTraits>;
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;
using UniqueFind = UniqueResource<HANDLE, FindTraits>;

}  // namespace OS
