#include "ConsoleTestSupport.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "libCGIConsoleCommon/page/cgi_PutStream.h"

namespace consoletest {

// The library writes through the C runtime's stdout: it is emptied at each end.
CapturedStdout::CapturedStdout() {
    fflush(stdout);
    plm::FlushOutput();
    m_saved = _dup(_fileno(stdout));
    FILE* file = _wfopen((m_dir.path() + L"\\out").c_str(), L"w");
    _dup2(_fileno(file), _fileno(stdout));
    fclose(file);
}

std::string CapturedStdout::Bytes() {
    if (!m_done) {
        fflush(stdout);
        plm::FlushOutput();
        _dup2(m_saved, _fileno(stdout));
        _close(m_saved);
        m_done = true;
    }
    return testsupport::ReadFileBytes(m_dir.path() + L"\\out");
}

CapturedStdout::~CapturedStdout() { Bytes(); }

std::wstring ListFolder(const std::wstring& folder) {
    std::wstring names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names += std::wstring(found.cFileName) + L"|";
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

}  // namespace consoletest
