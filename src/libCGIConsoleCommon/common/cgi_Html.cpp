// The HTML control shells: copies share one implementation object.
#include "cgi_Html.h"

#include "console/plm_Console.h"

namespace plm {

CHtmlTable::CHtmlTable() : m_pImpl(nullptr) {}

// NOLINTBEGIN(bugprone-macro-parentheses,bugprone-unhandled-self-assignment): a class name takes no parentheses;
// AssignImpl shares before it releases
#define PLM_HTML_SHELL_MEMBERS(Name)                                     \
    Name::Name(const Name& other) : m_pImpl(ShareImpl(other.m_pImpl)) {} \
    Name& Name::operator=(const Name& other) {                           \
        AssignImpl(m_pImpl, other.m_pImpl);                              \
        return *this;                                                    \
    }                                                                    \
    Name::~Name() { ReleaseImpl(m_pImpl); }

PLM_HTML_SHELL_MEMBERS(CHtmlTable)
PLM_HTML_SHELL_MEMBERS(CHtmlCheckbox)
PLM_HTML_SHELL_MEMBERS(CHtmlRadioButton)
PLM_HTML_SHELL_MEMBERS(CHtmlLink)
PLM_HTML_SHELL_MEMBERS(CHtmlHidden)
#undef PLM_HTML_SHELL_MEMBERS
// NOLINTEND(bugprone-macro-parentheses,bugprone-unhandled-self-assignment)

}  // namespace plm
