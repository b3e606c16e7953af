// Questions the console asks the server's command handler. Each wrapper sends
// one command (name, request id, arguments) and reads the reply; none throws,
// out of memory included. An unreachable handler, one that let an earlier
// command of the process time out, or a reply over 1 MB yields the fallbacks
// documented per function.
#pragma once
#include <windows.h>

#include <string>

namespace plm {

// Stores the reply's number in *out even when sending failed (0 then); the
// default is only a hint for the server.
bool CMDHO_GET_INI_INT(const wchar_t* section, const wchar_t* key, int defaultValue, int* out,
                       const wchar_t* file = nullptr);
bool CMDHO_GET_INI_INT_BY_CACHE(const wchar_t* section, const wchar_t* key, int defaultValue, int mode, int* out);
// *out becomes 0, then the reply's value when the command was answered.
void CMDHO_DBCMD_GET_NUMBER_OF_CLIENT(int kind, int* out);
// True when the reply's first token is not 0; account receives the second token
// (emptied when absent). False when sending failed.
bool CMDHO_GET_ACCOUNT_BY_INDEX(int index, std::wstring& account);
// 6 when the reply is empty or the handler unreachable.
unsigned long CMDHO_PR_GET_PRODUCT_ID();
// A set of bits; 0 when the reply is empty or the handler unreachable.
unsigned long CMDHO_PR_GET_AC_SERVICE();
// Both flags untouched when sending failed.
bool CMDHO_PR_GET_PFW_AC_INFO(bool* first, bool* second);
// Nothing stored when sending failed.
bool CMDHO_IS_DATABASE_BACKUP_IN_PROGRESS(bool* inProgress, SYSTEMTIME* when);
// The reply handed over unchanged.
bool CMDHO_GET_SSO_CFG(std::wstring& reply);

// The six queries of the cookie output, with what their wrappers would give.
struct SCookieQueries {
    int clients = 0;              // CMDHO_DBCMD_GET_NUMBER_OF_CLIENT (5)
    int registered = 0;           // CMDHO_GET_INI_INT_BY_CACHE PRODUCT_INFO Registered
    unsigned long productId = 6;  // CMDHO_PR_GET_PRODUCT_ID
    unsigned long acService = 0;  // CMDHO_PR_GET_AC_SERVICE
    int consoleSetting = 0;       // CMDHO_GET_INI_INT SERVER_CONSOLE_SECTION in Private\kpsserver.ini
    bool firewall = false;        // CMDHO_PR_GET_PFW_AC_INFO, untouched when unanswered
    bool firewallSecond = false;
};
// Sends the six at once, each on its own reply pipe, and waits for their
// replies together: none depends on another, so they cost about one round trip.
void CMDHO_AskCookieQueries(SCookieQueries& facts);

}  // namespace plm
