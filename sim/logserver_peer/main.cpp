// Serves the log server's pipe and prints every LOG_WRITE record it receives,
// one line per record: the eight fields separated by " | ".
//   logserver_peer [--seconds N] [--out FILE] [--quiet] [--pipe NAME]
// Without --seconds it runs until it is killed. --quiet keeps stdout silent.
#include <windows.h>

#include <string>

#include "LogServerPeer.h"
#include "PeerProgram.h"
#include "PeerSupport.h"

namespace {

std::string FormatRecord(const peers::LogRecord& record) {
    std::wstring line;
    for (size_t i = 0; i < record.fields.size(); ++i) {
        if (i != 0) line += L" | ";
        line += record.fields[i];
    }
    if (!record.endsWithNul) line += L" | (no terminating NUL)";
    return peers::ToUtf8(line) + "\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    peers::PeerProgram program("logserver_peer", peers::LogServerPeer::kDefaultPipeName);
    if (!program.ParseOptions(argc, argv))
        return program.Usage("usage: logserver_peer [--seconds N] [--out FILE] [--quiet] [--pipe NAME]\n");
    if (!program.OpenOutput()) return 1;

    peers::LogServerPeer peer(program.PipeName());
    peer.SetOnRecord([&](const peers::LogRecord& record) { program.Write(FormatRecord(record)); });
    return program.Serve(peer);
}
