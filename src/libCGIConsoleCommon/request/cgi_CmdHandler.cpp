#include "cgi_CmdHandler.h"

#include <cwchar>

#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "foundation/trace_Trace.h"
#include "ipc/cmd_Protocol.h"

using FrameworkChannel::TraceWrite;

namespace plm {
namespace {

// The command wrappers trace under the source name of the server-command channel.
const wchar_t kSourceFile[] = L"..\\libCGIConsoleCommon\\cgi_SSOImp";

// One command under construction: name, then the request id that also names
// the reply pipe, then the arguments. Sent alone (Send) or, through its
// Exchange(), together with others (cmdao_PipeSendAllAndRecv).
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
    SCmdaoExchange& Exchange() {
        m_exchange.text = m_message.GetText();
        m_exchange.byteLength = m_message.GetLength() * static_cast<int>(sizeof(wchar_t));
        m_exchange.replyPipe = m_requestId.c_str();
        return m_exchange;
    }
    CServerCommand& Send() {
        SCmdaoExchange* const exchange = &Exchange();
        cmdao_PipeSendAllAndRecv(&exchange, 1);
        return *this;
    }
    bool Answered() const { return m_exchange.answered; }
    const std::wstring& Reply() const { return m_exchange.reply; }

private:
    std::wstring m_requestId;
    CCmdProtocol m_message;
    SCmdaoExchange m_exchange;
};

// The wrappers promise a result, never an exception (out of memory included):
// body runs, or the wrapper's fallback is returned with a trace line on the wrapper's line.
template <typename Result, typename Body>
Result Guarded(const wchar_t* command, int line, Result fallback, Body body) {
    try {
        return body();
    } catch (...) {
        TraceWrite(kTraceFailure, kSourceFile, line, L"[%s] out of memory", command);
        return fallback;
    }
}

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

// What each command's reply means; shared by the single wrappers and the cookie queries.
CServerCommand IniIntCommand(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* file) {
    CServerCommand command(L"CMDHO_GET_INI_INT");
    command.Text(section).Text(key).Int(defaultValue).Text(file);
    return command;
}

CServerCommand IniIntByCacheCommand(const wchar_t* section, const wchar_t* key, int defaultValue, int mode) {
    CServerCommand command(L"CMDHO_GET_INI_INT_BY_CACHE");
    command.Text(section).Text(key).Int(defaultValue).Int(mode);
    return command;
}

CServerCommand ClientCountCommand(int kind) {
    CServerCommand command(L"CMDHO_DBCMD_GET_NUMBER_OF_CLIENT");
    command.Int(kind);
    return command;
}

int ClientCountOf(const CServerCommand& command) { return command.Answered() ? ReplyInt(command.Reply()) : 0; }

bool FirewallInfoOf(const CServerCommand& command, bool* first, bool* second) {
    if (!command.Answered()) return false;
    CCmdProtocol tokens(command.Reply().c_str(), static_cast<int>(command.Reply().size() * sizeof(wchar_t)));
    const int one = NextInt(tokens);
    const int two = NextInt(tokens);
    if (first) *first = one != 0;
    if (second) *second = two != 0;
    return true;
}

}  // namespace

bool CMDHO_GET_INI_INT(const wchar_t* section, const wchar_t* key, int defaultValue, int* out, const wchar_t* file) {
    return Guarded(L"CMDHO_GET_INI_INT", __LINE__, false, [&] {
        if (out) *out = 0;
        CServerCommand command = IniIntCommand(section, key, defaultValue, file);
        if (out) *out = ReplyInt(command.Send().Reply());
        return command.Answered();
    });
}

bool CMDHO_GET_INI_INT_BY_CACHE(const wchar_t* section, const wchar_t* key, int defaultValue, int mode, int* out) {
    return Guarded(L"CMDHO_GET_INI_INT_BY_CACHE", __LINE__, false, [&] {
        if (out) *out = 0;
        CServerCommand command = IniIntByCacheCommand(section, key, defaultValue, mode);
        if (out) *out = ReplyInt(command.Send().Reply());
        return command.Answered();
    });
}

void CMDHO_DBCMD_GET_NUMBER_OF_CLIENT(int kind, int* out) {
    if (out) *out = 0;
    const int clients = Guarded(L"CMDHO_DBCMD_GET_NUMBER_OF_CLIENT", __LINE__, 0,
                                [&] { return ClientCountOf(ClientCountCommand(kind).Send()); });
    if (out) *out = clients;
}

bool CMDHO_GET_ACCOUNT_BY_INDEX(int index, std::wstring& account) {
    account.clear();
    return Guarded(L"CMDHO_GET_ACCOUNT_BY_INDEX", __LINE__, false, [&] {
        CServerCommand command(L"CMDHO_GET_ACCOUNT_BY_INDEX");
        if (!command.Int(index).Send().Answered()) return false;
        CCmdProtocol tokens(command.Reply().c_str(), static_cast<int>(command.Reply().size() * sizeof(wchar_t)));
        const bool found = NextInt(tokens) != 0;
        tokens.NextString(account);
        return found;
    });
}

unsigned long CMDHO_PR_GET_PRODUCT_ID() {
    return Guarded(L"CMDHO_PR_GET_PRODUCT_ID", __LINE__, 6ul,
                   [] { return ReplyUnsigned(CServerCommand(L"CMDHO_PR_GET_PRODUCT_ID").Send().Reply(), 6); });
}

unsigned long CMDHO_PR_GET_AC_SERVICE() {
    return Guarded(L"CMDHO_PR_GET_AC_SERVICE", __LINE__, 0ul,
                   [] { return ReplyUnsigned(CServerCommand(L"CMDHO_PR_GET_AC_SERVICE").Send().Reply(), 0); });
}

bool CMDHO_PR_GET_PFW_AC_INFO(bool* first, bool* second) {
    return Guarded(L"CMDHO_PR_GET_PFW_AC_INFO", __LINE__, false,
                   [&] { return FirewallInfoOf(CServerCommand(L"CMDHO_PR_GET_PFW_AC_INFO").Send(), first, second); });
}

bool CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(bool* inProgress, SYSTEMTIME* when) {
    return Guarded(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS", __LINE__, false, [&] {
        CServerCommand command(L"CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS");
        if (!command.Send().Answered()) return false;
        CCmdProtocol tokens(command.Reply().c_str(), static_cast<int>(command.Reply().size() * sizeof(wchar_t)));
        const int flag = NextInt(tokens);
        // The handler sends the fields in this order, not in the record's own.
        SYSTEMTIME time = {};
        WORD* const order[] = {&time.wDay,    &time.wDayOfWeek, &time.wHour,   &time.wMilliseconds,
                               &time.wMinute, &time.wMonth,     &time.wSecond, &time.wYear};
        for (WORD* field : order) *field = static_cast<WORD>(NextInt(tokens));
        if (inProgress) *inProgress = flag != 0;
        if (when) *when = time;
        return true;
    });
}

bool CMDHO_GET_SSO_CFG(std::wstring& reply) {
    reply.clear();
    return Guarded(L"CMDHO_GET_SSO_CFG", __LINE__, false, [&] {
        CServerCommand command(L"CMDHO_GET_SSO_CFG");
        command.Send();
        reply = command.Reply();
        return command.Answered();
    });
}

void CMDHO_AskCookieQueries(SCookieQueries& facts) {
    facts = SCookieQueries();
    Guarded(L"CMDHO_AskCookieQueries", __LINE__, false, [&] {
        wchar_t file[MAX_PATH];
        _snwprintf_s(file, MAX_PATH, _TRUNCATE, L"Private\\%s", L"kpsserver.ini");
        file[MAX_PATH - 1] = L'\0';
        CServerCommand commands[] = {
            ClientCountCommand(5),
            IniIntByCacheCommand(L"PRODUCT_INFO", L"Registered", 0, 1),
            CServerCommand(L"CMDHO_PR_GET_PRODUCT_ID"),
            CServerCommand(L"CMDHO_PR_GET_AC_SERVICE"),
            IniIntCommand(L"SERVER_CONSOLE_SECTION", L"Show_Console_Setting", 1, file),
            CServerCommand(L"CMDHO_PR_GET_PFW_AC_INFO"),
        };
        const size_t count = sizeof commands / sizeof commands[0];
        SCmdaoExchange* exchanges[count];
        for (size_t i = 0; i < count; ++i) exchanges[i] = &commands[i].Exchange();
        cmdao_PipeSendAllAndRecv(exchanges, count);
        facts.clients = ClientCountOf(commands[0]);
        facts.registered = ReplyInt(commands[1].Reply());
        facts.productId = ReplyUnsigned(commands[2].Reply(), 6);
        facts.acService = ReplyUnsigned(commands[3].Reply(), 0);
        facts.consoleSetting = ReplyInt(commands[4].Reply());
        FirewallInfoOf(commands[5], &facts.firewall, &facts.firewallSecond);
        return true;
    });
}

}  // namespace plm
