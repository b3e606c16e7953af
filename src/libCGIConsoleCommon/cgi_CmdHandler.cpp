#include "cgi_CmdHandler.h"

#include <cwchar>

#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "ipc/cmd_Protocol.h"

namespace plm {
namespace {

// One command under construction: name, then the request id that also names
// the reply pipe, then the arguments.
class CServerCommand {
public:
    explicit CServerCommand(const wchar_t* name) : m_requestId(MakeReplyPipeName(name)) {
        m_message.AddField(name).AddField(m_requestId.c_str());
    }
    CServerCommand& Text(const wchar_t* text) {
        m_message.AddField(text ? text : L"");
        return *this;
    }
    CServerCommand& Int(int value) {
        m_message.AddInt(value);
        return *this;
    }
    bool Send(std::wstring& reply) {
        return cmdao_PipeSendAndRecv(m_message.GetText(), m_message.GetLength() * static_cast<int>(sizeof(wchar_t)),
                                     m_requestId.c_str(), reply);
    }

private:
    std::wstring m_requestId;
    CCmdProtocol m_message;
};

// The wide decimal conversion of the whole reply, as at most 19 characters.
int ReplyInt(const std::wstring& reply) { return _wtoi(reply.substr(0, 19).c_str()); }

unsigned long ReplyUnsigned(const std::wstring& reply, unsigned long whenEmpty) {
    return reply.empty() ? whenEmpty : wcstoul(reply.c_str(), nullptr, 10);
}

int NextInt(CCmdProtocol& tokens) {
    int value = 0;
    tokens.NextInt(value);
    return value;
}

}  // namespace

bool CMDHO_GET_INI_INT(const wchar_t* section, const wchar_t* key, int defaultValue, int* out, const wchar_t* file) {
    std::wstring reply;
    const bool sent = CServerCommand(L"CMDHO_GET_INI_INT").Text(section).Text(key).Int(defaultValue).Text(file).Send(reply);
    if (out) *out = ReplyInt(reply);
    return sent;
}

bool CMDHO_GET_INI_INT_BY_CACHE(const wchar_t* section, const wchar_t* key, int defaultValue, int mode, int* out) {
    std::wstring reply;
    const bool sent =
        CServerCommand(L"CMDHO_GET_INI_INT_BY_CACHE").Text(section).Text(key).Int(defaultValue).Int(mode).Send(reply);
    if (out) *out = ReplyInt(reply);
    return sent;
}

void CMDHO_DBCMD_GET_NUMBER_OF_CLIENT(int kind, int* out) {
    if (out) *out = 0;
    std::wstring reply;
    if (CServerCommand(L"CMDHO_DBCMD_GET_NUMBER_OF_CLIENT").Int(kind).Send(reply) && out) *out = ReplyInt(reply);
}

bool CMDHO_GET_ACCOUNT_BY_INDEX(int index, std::wstring& account) {
    account.clear();
    std::wstring reply;
    if (!CServerCommand(L"CMDHO_GET_ACCOUNT_BY_INDEX").Int(index).Send(reply)) return false;
    CCmdProtocol tokens(reply.c_str(), static_cast<int>(reply.size() * sizeof(wchar_t)));
    const bool found = NextInt(tokens) != 0;
    tokens.NextString(account);
    return found;
}

unsigned long CMDHO_PR_GET_PRODUCT_ID() {
    std::wstring reply;
    CServerCommand(L"CMDHO_PR_GET_PRODUCT_ID").Send(reply);
    return ReplyUnsigned(reply, 6);
}

unsigned long CMDHO_PR_GET_AC_SERVICE() {
    std::wstring reply;
    CServerCommand(L"CMDHO_PR_GET_AC_SERVICE").Send(reply);
    return ReplyUnsigned(reply, 0);
}

bool CMDHO_PR_GET_PFW_AC_INFO(bool* first, bool* second) {
    std::wstring reply;
    if (!CServerCommand(L"CMDHO_PR_GET_PFW_AC_INFO").Send(reply)) return false;
    CCmdProtocol tokens(reply.c_str(), static_cast<int>(reply.size() * sizeof(wchar_t)));
    const int one = NextInt(tokens);
    const int two = NextInt(tokens);
    if (first) *first = one != 0;
    if (second) *second = two != 0;
    return true;
}

bool CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(bool* inProgress, SYSTEMTIME* when) {
    std::wstring reply;
    if (!CServerCommand(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS").Send(reply)) return false;
    CCmdProtocol tokens(reply.c_str(), static_cast<int>(reply.size() * sizeof(wchar_t)));
    const int flag = NextInt(tokens);
    // The handler sends the fields in this order, not in the record's own.
    SYSTEMTIME time = {};
    WORD* const order[] = {&time.wDay,    &time.wDayOfWeek, &time.wHour,   &time.wMilliseconds,
                           &time.wMinute, &time.wMonth,     &time.wSecond, &time.wYear};
    for (WORD* field : order) *field = static_cast<WORD>(NextInt(tokens));
    if (inProgress) *inProgress = flag != 0;
    if (when) *when = time;
    return true;
}

bool CMDHO_GET_SSO_CFG(std::wstring& reply) { return CServerCommand(L"CMDHO_GET_SSO_CFG").Send(reply); }

}  // namespace plm
