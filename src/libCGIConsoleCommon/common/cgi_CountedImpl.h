// The implementation objects behind the exported shells (console context,
// stream, HTML controls): copies of a shell share one, and the last owner to
// let go deletes it.
#pragma once
#include <windows.h>

namespace plm {

class CCountedImpl {
public:
    CCountedImpl(const CCountedImpl&) = delete;
    CCountedImpl& operator=(const CCountedImpl&) = delete;

    void AddOwner() { InterlockedIncrement(&m_owners); }
    // Deletes the object when the last owner leaves.
    void ReleaseOwner() {
        if (InterlockedDecrement(&m_owners) == 0) delete this;
    }

protected:
    CCountedImpl() = default;
    virtual ~CCountedImpl() = default;

private:
    volatile LONG m_owners = 1;
};

// What a shell's copy constructor, assignment and destructor do with its
// implementation pointer (which may be null).
template <typename Impl>
Impl* ShareImpl(Impl* impl) {
    if (impl) impl->AddOwner();
    return impl;
}
template <typename Impl>
void AssignImpl(Impl*& mine, Impl* theirs) {
    ShareImpl(theirs);
    if (mine) mine->ReleaseOwner();
    mine = theirs;
}
template <typename Impl>
void ReleaseImpl(Impl*& impl) {
    if (impl) impl->ReleaseOwner();
    impl = nullptr;
}

}  // namespace plm
