// Serves the server command handler's pipe and answers each command text on
// the reply pipe named in its second field.
//   cmdhandler_peer [--seconds N] [--reply NAME=TEXT]... [--empty NAME]... [--silent NAME]...
//                   [--default TEXT] [--out FILE] [--quiet] [--pipe NAME]
// In TEXT, "\t" stands for a TAB. Commands without a reply entry get the
// --default text, or the empty reply (connect and close).
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "CmdHandlerPeer.h"
#include "PeerProgram.h"
#include "PeerSupport.h"

namespace {

std::wstring Unescape(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L't') {
            out += L'\t';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Options {
    std::vector<std::pair<std::wstring, peers::CmdReply>> replies;
    peers::CmdReply defaultReply = peers::CmdReply::Of(peers::CmdReply::kEmpty);
};

bool ParseOwnOption(int argc, wchar_t** argv, int& i, Options& options) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--reply" && hasValue) {
        const std::wstring entry = argv[++i];
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos || equals == 0) return false;
        options.replies.emplace_back(entry.substr(0, equals),
                                     peers::CmdReply::Text(Unescape(entry.substr(equals + 1))));
    } else if (arg == L"--empty" && hasValue) {
        options.replies.emplace_back(argv[++i], peers::CmdReply::Of(peers::CmdReply::kEmpty));
    } else if (arg == L"--silent" && hasValue) {
        options.replies.emplace_back(argv[++i], peers::CmdReply::Of(peers::CmdReply::kSilence));
    } else if (arg == L"--default" && hasValue) {
        options.defaultReply = peers::CmdReply::Text(Unescape(argv[++i]));
    } else {
        return false;
    }
    return true;
}

std::wstring Visible(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) out += c == L'\t' ? std::wstring(L" | ") : std::wstring(1, c);
    return out;
}

std::string FormatCommand(const peers::ServerCommand& command) {
    std::wstring answer;
    switch (command.answer.kind) {
    case peers::CmdReply::kText: answer = L"\"" + Visible(command.answer.text) + L"\""; break;
    case peers::CmdReply::kEmpty: answer = L"empty reply"; break;
    case peers::CmdReply::kSilence: answer = L"silence"; break;
    case peers::CmdReply::kStall: answer = L"stall"; break;
    }
    return peers::ToUtf8(Visible(command.raw) + L"  ->  " + answer + L"\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    peers::PeerProgram program("cmdhandler_peer", peers::CmdHandlerPeer::kDefaultPipeName);
    Options options;
    const auto parseOwn = [&](int n, wchar_t** v, int& i) { return ParseOwnOption(n, v, i, options); };
    if (!program.ParseOptions(argc, argv, parseOwn))
        return program.Usage(
            "usage: cmdhandler_peer [--seconds N] [--reply NAME=TEXT]... [--empty NAME]... "
            "[--silent NAME]...\n"
            "                       [--default TEXT] [--out FILE] [--quiet] [--pipe NAME]\n");
    if (!program.OpenOutput()) return 1;

    peers::CmdHandlerPeer peer(program.PipeName());
    for (const auto& entry : options.replies) peer.SetReply(entry.first, entry.second);
    peer.SetDefaultReply(options.defaultReply);
    peer.SetOnCommand([&](const peers::ServerCommand& command) { program.Write(FormatCommand(command)); });
    return program.Serve(peer);
}
