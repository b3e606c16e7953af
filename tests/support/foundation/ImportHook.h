// Redirects one module's calls of an imported system function, for tests that
// must see the arguments the library passes: flags that the platform under test
// (Wine) accepts but does not act on. The original is put back when the hook
// goes away.
#pragma once
#include <windows.h>

namespace testsupport {

class ImportHook {
public:
    // module: whose import table to change (null: this program).
    ImportHook(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }
    // The function the import table held before.
    void* Original() const { return m_original; }

private:
    void** m_slot = nullptr;
    void* m_original = nullptr;
};

}  // namespace testsupport
