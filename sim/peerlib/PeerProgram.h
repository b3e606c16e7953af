// The part every peer program shares: the options --seconds N, --out FILE,
// --quiet and --pipe NAME, the output (stdout unless --quiet, plus the file),
// and serving for N seconds (until killed without --seconds).
#pragma once
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace peers {

class PeerProgram {
public:
    // Takes the program's own argument argv[i]; advances i past the values it
    // consumes and returns false when it does not know the argument.
    using OwnOptionParser = std::function<bool(int argc, wchar_t** argv, int& i)>;

    // name prefixes the program's messages on stderr.
    PeerProgram(const char* name, std::wstring defaultPipeName);

    // Parses the whole command line; false on an argument nobody knows or a
    // missing value.
    bool ParseOptions(int argc, wchar_t** argv, const OwnOptionParser& parseOwn = nullptr);
    // Prints the usage text on stderr and returns the exit code for it.
    int Usage(const char* text) const;
    // Switches stdout to binary and opens the --out file; false after saying why.
    bool OpenOutput();
    // Writes one formatted piece to stdout (unless --quiet) and to the --out file.
    void Write(const std::string& text);

    const std::wstring& PipeName() const { return m_pipeName; }

    // Starts the peer, serves for --seconds (forever without it) and stops it.
    // Returns the program's exit code.
    template <typename Peer>
    int Serve(Peer& peer) {
        if (!peer.Start()) return ReportStartFailure(peer.LastError());
        ReportServing();
        WaitUntilTimeUp();
        peer.Stop();
        return 0;
    }

private:
    int ReportStartFailure(DWORD error) const;
    void ReportServing() const;
    void WaitUntilTimeUp() const;

    const char* m_name;
    DWORD m_seconds = 0;
    std::wstring m_outPath;
    std::wstring m_pipeName;
    bool m_quiet = false;
    std::unique_ptr<FILE, int (*)(FILE*)> m_out{nullptr, &std::fclose};
};

}  // namespace peers
