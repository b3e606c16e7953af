// Serves the add-on manager's command pipe, prints every request it receives
// field by field and answers it.
//   aosmgr_peer [--seconds N] [--status N] [--behaviour B]... [--register-entries]
//               [--out FILE] [--quiet] [--pipe NAME]
// B is one of status:N[:text], wrongid, short, empty, silence, stall; each
// --behaviour answers one request, in order, then --status N (default 0) answers
// the rest. Without --seconds it runs until it is killed.
#include <windows.h>

#include <string>
#include <vector>

#include "AoSMgrPeer.h"
#include "PeerProgram.h"
#include "PeerSupport.h"

namespace {

struct Options {
    int status = 0;
    std::vector<peers::AoSBehaviour> behaviours;
    bool registerEntries = false;
};

bool ParseOwnOption(int argc, wchar_t** argv, int& i, Options& options) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    peers::AoSBehaviour behaviour;
    if (arg == L"--status" && hasValue)
        options.status = _wtoi(argv[++i]);
    else if (arg == L"--behaviour" && hasValue && peers::AoSBehaviour::Parse(argv[++i], behaviour))
        options.behaviours.push_back(behaviour);
    else if (arg == L"--register-entries")
        options.registerEntries = true;
    else
        return false;
    return true;
}

void Line(std::wstring& out, const std::wstring& name, const std::wstring& value) {
    out += name + L": " + value + L"\n";
}

void DescribeMessage(std::wstring& out, const peers::AoSRequestMessage& m) {
    Line(out, L"message id", std::to_wstring(m.id));
    Line(out, L"wpszPLSId", m.plsId);
    Line(out, L"wpszPLSVersion", m.plsVersion);
    Line(out, L"wpszInstallPath", m.installPath);
    Line(out, L"wpszAuxText", m.auxText);
    Line(out, L"wpszPlugInPath", m.plugInPath);
    Line(out, L"wpszUninstallPath", m.uninstallPath);
    Line(out, L"iComponentCount", std::to_wstring(m.componentCount));
    for (size_t i = 0; i < m.components.size(); ++i) {
        const std::wstring at = L"  component[" + std::to_wstring(i) + L"] ";
        Line(out, at + L"wpszText1", m.components[i].text1);
        Line(out, at + L"wpszText2", m.components[i].text2);
        Line(out, at + L"iNumber", std::to_wstring(m.components[i].number));
    }
    Line(out, L"iTotalUIExtensionDataCount", std::to_wstring(m.uiExtensionCount));
    for (size_t i = 0; i < m.uiExtensions.size(); ++i) {
        const std::wstring at = L"  extension[" + std::to_wstring(i) + L"] ";
        Line(out, at + L"wpszGroupId", m.uiExtensions[i].groupId);
        Line(out, at + L"wpszExtensionFileName", m.uiExtensions[i].extensionFileName);
        Line(out, at + L"wpszDescription", m.uiExtensions[i].description);
        Line(out, at + L"bAllowed", std::to_wstring(m.uiExtensions[i].allowed));
        Line(out, at + L"bUIDeletable", std::to_wstring(m.uiExtensions[i].deletable));
    }
    Line(out, L"iUIPageCount", std::to_wstring(m.pageCount));
    for (size_t i = 0; i < m.pages.size(); ++i) {
        const std::wstring at = L"  page[" + std::to_wstring(i) + L"] ";
        Line(out, at + L"wpszPageName", m.pages[i].name);
        Line(out, at + L"wpszPageURL", m.pages[i].url);
    }
    Line(out, L"bytes after the message", std::to_wstring(m.trailing.size()));
}

std::string FormatCommand(const peers::AoSCommand& c) {
    std::wstring out;
    Line(out, L"command", c.name);
    Line(out, L"reply pipe", c.replyPipe);
    Line(out, L"byte count",
         c.countField + L" (" + std::to_wstring(c.payload.size()) + L" payload bytes, " +
             std::to_wstring(c.messageBytes.size()) + L" pipe messages)");
    if (c.decoded) DescribeMessage(out, c.message);
    if (!c.error.empty()) Line(out, L"not understood", c.error);
    Line(out, L"answer", c.answer.Describe());
    return peers::ToUtf8(out + L"\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    peers::PeerProgram program("aosmgr_peer", peers::AoSMgrPeer::kDefaultPipeName);
    Options options;
    const auto parseOwn = [&](int n, wchar_t** v, int& i) { return ParseOwnOption(n, v, i, options); };
    if (!program.ParseOptions(argc, argv, parseOwn))
        return program.Usage(
            "usage: aosmgr_peer [--seconds N] [--status N] [--behaviour B]... [--register-entries]\n"
            "                   [--out FILE] [--quiet] [--pipe NAME]\n"
            "  B: status:N[:text] | wrongid | short | empty | silence | stall\n");
    if (!program.OpenOutput()) return 1;

    peers::AoSMgrPeer peer(program.PipeName());
    peer.SetDefaultBehaviour(peers::AoSBehaviour::Status(options.status));
    for (const auto& behaviour : options.behaviours) peer.QueueBehaviour(behaviour);
    peer.SetRegisterEntries(options.registerEntries);
    peer.SetOnCommand([&](const peers::AoSCommand& command) { program.Write(FormatCommand(command)); });
    return program.Serve(peer);
}
