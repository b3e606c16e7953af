// Serves the log server's pipe and prints every LOG_WRITE record it receives,
// one line per record: the eight fields separated by " | ".
//   logserver_peer [--seconds N] [--out FILE] [--quiet] [--pipe NAME]
// Without --seconds it runs until it is killed. --quiet keeps stdout silent.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "LogServerPeer.h"

namespace {

struct Options {
    DWORD seconds = 0;
    std::wstring outPath;
    std::wstring pipeName = peers::LogServerPeer::kDefaultPipeName;
    bool quiet = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--seconds" && hasValue)
            options.seconds = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg == L"--out" && hasValue)
            options.outPath = argv[++i];
        else if (arg == L"--pipe" && hasValue)
            options.pipeName = argv[++i];
        else if (arg == L"--quiet")
            options.quiet = true;
        else
            return false;
    }
    return true;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string out(cb > 0 ? static_cast<size_t>(cb) : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], cb, nullptr, nullptr);
    return out;
}

std::string FormatRecord(const peers::LogRecord& record) {
    std::wstring line;
    for (size_t i = 0; i < record.fields.size(); ++i) {
        if (i != 0) line += L" | ";
        line += record.fields[i];
    }
    if (!record.endsWithNul) line += L" | (no terminating NUL)";
    return ToUtf8(line) + "\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: logserver_peer [--seconds N] [--out FILE] [--quiet] [--pipe NAME]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines end in "\n" on stdout as in the file
    FILE* out = nullptr;
    if (!options.outPath.empty() && (out = _wfopen(options.outPath.c_str(), L"wb")) == nullptr) {
        std::fprintf(stderr, "logserver_peer: cannot open the output file\n");
        return 1;
    }

    peers::LogServerPeer peer(options.pipeName);
    peer.SetOnRecord([&](const peers::LogRecord& record) {
        const std::string line = FormatRecord(record);
        if (!options.quiet) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
        }
        if (out != nullptr) {
            std::fwrite(line.data(), 1, line.size(), out);
            std::fflush(out);
        }
    });
    if (!peer.Start()) {
        std::fprintf(stderr, "logserver_peer: cannot create the pipe, err=%lu\n",
                     static_cast<unsigned long>(peer.LastError()));
        if (out != nullptr) std::fclose(out);
        return 1;
    }
    std::fprintf(stderr, "logserver_peer: serving %s\n", ToUtf8(options.pipeName).c_str());
    std::fflush(stderr);

    if (options.seconds == 0) {
        for (;;) Sleep(INFINITE);
    }
    Sleep(options.seconds * 1000);
    peer.Stop();
    if (out != nullptr) std::fclose(out);
    return 0;
}
