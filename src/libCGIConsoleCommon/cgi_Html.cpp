// The HTML control shells: copies share one implementation object.
#include "cgi_Html.h"

#include "console/plm_Console.h"

namespace plm {
namespace {

CHtmlImpl* Share(CHtmlImpl* impl) {
    if (impl) impl->AddOwner();
    return impl;
}

void Assign(CHtmlImpl*& mine, CHtmlImpl* theirs) {
    Share(theirs);
    if (mine) mine->ReleaseOwner();
    mine = theirs;
}

void Release(CHtmlImpl*& impl) {
    if (impl) impl->ReleaseOwner();
    impl = nullptr;
}

}  // namespace

CHtmlTable::CHtmlTable() : m_pImpl(nullptr) {}

#define PLM_HTML_SHELL_MEMBERS(Name)                                                  \
    Name::Name(const Name& other) : m_pImpl(Share(other.m_pImpl)) {}                  \
    Name& Name::operator=(const Name& other) {                                        \
        Assign(m_pImpl, other.m_pImpl);                                               \
        return *this;                                                                 \
    }                                                                                 \
    Name::~Name() { Release(m_pImpl); }

PLM_HTML_SHELL_MEMBERS(CHtmlTable)
PLM_HTML_SHELL_MEMBERS(CHtmlCheckbox)
PLM_HTML_SHELL_MEMBERS(CHtmlRadioButton)
PLM_HTML_SHELL_MEMBERS(CHtmlLink)
PLM_HTML_SHELL_MEMBERS(CHtmlHidden)
#undef PLM_HTML_SHELL_MEMBERS

}  // namespace plm
