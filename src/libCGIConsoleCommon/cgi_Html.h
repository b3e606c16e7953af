// The implementation object behind the exported CHtml... shells: shared by
// copies of a shell and deleted when its last owner lets go.
#pragma once
#include <windows.h>

namespace plm {

class CHtmlImpl {
public:
    CHtmlImpl() = default;
    CHtmlImpl(const CHtmlImpl&) = delete;
    CHtmlImpl& operator=(const CHtmlImpl&) = delete;

    void AddOwner() { InterlockedIncrement(&m_owners); }
    void ReleaseOwner() {
        if (InterlockedDecrement(&m_owners) == 0) delete this;
    }

protected:
    virtual ~CHtmlImpl() = default;

private:
    volatile LONG m_owners = 1;
};

}  // namespace plm
