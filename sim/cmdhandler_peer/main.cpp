// Serves the server command handler's pipe and answers each command text on
// the reply pipe named in its second field.
//   cmdhandler_peer [--seconds N] [--answers FILE] [--reply NAME=TEXT]... [--empty NAME]...
//                   [--silent NAME]... [--default TEXT] [--instances N] [--out FILE] [--quiet] [--pipe NAME]
//   cmdhandler_peer --forge PIPE TEXT
// The second form plays a local process that answers on a reply pipe in the
// service's place: it writes TEXT into PIPE once and exits (0 when written).
// In TEXT, "\t" stands for a TAB. Commands without a reply entry get the
// --default text, or the empty reply (connect and close). An answers file (UTF-8)
// holds one NAME=TEXT per line ("NAME=" answers with the empty reply); lines
// starting with "#" and blank lines are skipped. --instances: how many instances
// of its pipe it serves, so how many commands it takes at once (4 by default).
#include <windows.h>

#include <fstream>
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

bool AddReplyEntry(const std::wstring& entry, std::vector<std::pair<std::wstring, peers::CmdReply>>& replies) {
    const size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos || equals == 0) return false;
    const std::wstring text = Unescape(entry.substr(equals + 1));
    replies.emplace_back(entry.substr(0, equals),
                         text.empty() ? peers::CmdReply::Of(peers::CmdReply::kEmpty) : peers::CmdReply::Text(text));
    return true;
}

bool LoadAnswers(const wchar_t* path, std::vector<std::pair<std::wstring, peers::CmdReply>>& replies) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fwprintf(stderr, L"cmdhandler_peer: cannot read %ls\n", path), false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::wstring entry;
        int cch = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
        entry.resize(static_cast<size_t>(cch));
        if (cch) MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &entry[0], cch);
        if (!AddReplyEntry(entry, replies))
            return fwprintf(stderr, L"cmdhandler_peer: %ls:%d: not NAME=TEXT\n", path, number), false;
    }
    return true;
}

struct Options {
    std::vector<std::pair<std::wstring, peers::CmdReply>> replies;
    peers::CmdReply defaultReply = peers::CmdReply::Of(peers::CmdReply::kEmpty);
    unsigned instances = 4;
};

bool ParseOwnOption(int argc, wchar_t** argv, int& i, Options& options) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--reply" && hasValue) {
        return AddReplyEntry(argv[++i], options.replies);
    } else if (arg == L"--answers" && hasValue) {
        return LoadAnswers(argv[++i], options.replies);
    } else if (arg == L"--empty" && hasValue) {
        options.replies.emplace_back(argv[++i], peers::CmdReply::Of(peers::CmdReply::kEmpty));
    } else if (arg == L"--silent" && hasValue) {
        options.replies.emplace_back(argv[++i], peers::CmdReply::Of(peers::CmdReply::kSilence));
    } else if (arg == L"--default" && hasValue) {
        options.defaultReply = peers::CmdReply::Text(Unescape(argv[++i]));
    } else if (arg == L"--instances" && hasValue) {
        options.instances = static_cast<unsigned>(_wtoi(argv[++i]));
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
    case peers::CmdReply::kText:
        answer = L"\"" + Visible(command.answer.text) + L"\"";
        break;
    case peers::CmdReply::kEmpty:
        answer = L"empty reply";
        break;
    case peers::CmdReply::kSilence:
        answer = L"silence";
        break;
    case peers::CmdReply::kStall:
        answer = L"stall";
        break;
    case peers::CmdReply::kEndless:
        answer = L"endless reply";
        break;
    }
    return peers::ToUtf8(Visible(command.raw) + L"  ->  " + answer + L"\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--forge") {
        OS::UniqueFile pipe;
        const std::wstring text = Unescape(argv[3]);
        DWORD error = peers::OpenPipeForWriting(argv[2], pipe);
        if (error == 0) error = peers::WriteMessages(pipe.get(), text.data(), text.size() * sizeof(wchar_t));
        return static_cast<int>(error);
    }
    peers::PeerProgram program("cmdhandler_peer", peers::CmdHandlerPeer::kDefaultPipeName);
    Options options;
    const auto parseOwn = [&](int n, wchar_t** v, int& i) { return ParseOwnOption(n, v, i, options); };
    if (!program.ParseOptions(argc, argv, parseOwn))
        return program.Usage(
            "usage: cmdhandler_peer [--seconds N] [--answers FILE] [--reply NAME=TEXT]... [--empty NAME]... "
            "[--silent NAME]...\n"
            "                       [--default TEXT] [--instances N] [--out FILE] [--quiet] [--pipe NAME]\n");
    if (!program.OpenOutput()) return 1;

    peers::CmdHandlerPeer peer(program.PipeName(), options.instances);
    for (const auto& entry : options.replies) peer.SetReply(entry.first, entry.second);
    peer.SetDefaultReply(options.defaultReply);
    peer.SetOnCommand([&](const peers::ServerCommand& command) { program.Write(FormatCommand(command)); });
    return program.Serve(peer);
}
