#include "PeerProgram.h"

#include <fcntl.h>
#include <io.h>

#include <utility>

#include "PeerSupport.h"

namespace peers {

PeerProgram::PeerProgram(const char* name, std::wstring defaultPipeName)
    : m_name(name), m_pipeName(std::move(defaultPipeName)) {}

bool PeerProgram::ParseOptions(int argc, wchar_t** argv, const OwnOptionParser& parseOwn) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--seconds" && hasValue)
            m_seconds = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (arg == L"--out" && hasValue)
            m_outPath = argv[++i];
        else if (arg == L"--pipe" && hasValue)
            m_pipeName = argv[++i];
        else if (arg == L"--quiet")
            m_quiet = true;
        else if (!parseOwn || !parseOwn(argc, argv, i))
            return false;
    }
    return true;
}

int PeerProgram::Usage(const char* text) const {
    std::fputs(text, stderr);
    return 2;
}

bool PeerProgram::OpenOutput() {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines end in "\n" on stdout as in the file
    if (m_outPath.empty()) return true;
    m_out.reset(_wfopen(m_outPath.c_str(), L"wb"));
    if (m_out) return true;
    std::fprintf(stderr, "%s: cannot open the output file\n", m_name);
    return false;
}

void PeerProgram::Write(const std::string& text) {
    if (!m_quiet) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    if (m_out) {
        std::fwrite(text.data(), 1, text.size(), m_out.get());
        std::fflush(m_out.get());
    }
}

int PeerProgram::ReportStartFailure(DWORD error) const {
    std::fprintf(stderr, "%s: cannot create the pipe, err=%lu\n", m_name, static_cast<unsigned long>(error));
    return 1;
}

void PeerProgram::ReportServing() const {
    std::fprintf(stderr, "%s: serving %s\n", m_name, ToUtf8(m_pipeName).c_str());
    std::fflush(stderr);
}

void PeerProgram::WaitUntilTimeUp() const {
    if (m_seconds == 0) {
        for (;;) Sleep(INFINITE);
    }
    Sleep(m_seconds * 1000);
}

}  // namespace peers
