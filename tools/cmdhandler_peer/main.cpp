// Serves the server command handler's pipe and answers each command text on
// the reply pipe named in its second field.
//   cmdhandler_peer [--seconds N] [--reply NAME=TEXT]... [--empty NAME]... [--silent NAME]...
//                   [--default TEXT] [--out FILE] [--quiet] [--pipe NAME]
// In TEXT, "\t" stands for a TAB. Commands without a reply entry get the
// --default text, or the empty reply (connect and close).
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "CmdHandlerPeer.h"

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
    DWORD seconds = 0;
    std::wstring outPath;
    std::wstring pipeName = peers::CmdHandlerPeer::kDefaultPipeName;
    bool quiet = false;
    std::vector<std::pair<std::wstring, peers::CmdReply>> replies;
    peers::CmdReply defaultReply = peers::CmdReply::Of(peers::CmdReply::kEmpty);
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--seconds" && hasValue) {
            options.seconds = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (arg == L"--reply" && hasValue) {
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
        } else if (arg == L"--out" && hasValue) {
            options.outPath = argv[++i];
        } else if (arg == L"--pipe" && hasValue) {
            options.pipeName = argv[++i];
        } else if (arg == L"--quiet") {
            options.quiet = true;
        } else {
            return false;
        }
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
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: cmdhandler_peer [--seconds N] [--reply NAME=TEXT]... [--empty NAME]... "
                     "[--silent NAME]...\n"
                     "                       [--default TEXT] [--out FILE] [--quiet] [--pipe NAME]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines end in "\n" on stdout as in the file
    FILE* out = nullptr;
    if (!options.outPath.empty() && (out = _wfopen(options.outPath.c_str(), L"wb")) == nullptr) {
        std::fprintf(stderr, "cmdhandler_peer: cannot open the output file\n");
        return 1;
    }

    peers::CmdHandlerPeer peer(options.pipeName);
    for (const auto& entry : options.replies) peer.SetReply(entry.first, entry.second);
    peer.SetDefaultReply(options.defaultReply);
    peer.SetOnCommand([&](const peers::ServerCommand& command) {
        const std::string text = FormatCommand(command);
        if (!options.quiet) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        }
        if (out != nullptr) {
            std::fwrite(text.data(), 1, text.size(), out);
            std::fflush(out);
        }
    });
    if (!peer.Start()) {
        std::fprintf(stderr, "cmdhandler_peer: cannot create the pipe, err=%lu\n",
                     static_cast<unsigned long>(peer.LastError()));
        if (out != nullptr) std::fclose(out);
        return 1;
    }
    std::fprintf(stderr, "cmdhandler_peer: serving %s\n", peers::ToUtf8(options.pipeName).c_str());
    std::fflush(stderr);

    if (options.seconds == 0) {
        for (;;) Sleep(INFINITE);
    }
    Sleep(options.seconds * 1000);
    peer.Stop();
    if (out != nullptr) std::fclose(out);
    return 0;
}
