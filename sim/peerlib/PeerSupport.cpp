#include "PeerSupport.h"

#include <algorithm>
#include <cstdio>

namespace peers {

std::vector<std::wstring> SplitTabs(const std::wstring& text) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = text.find(L'\t', start);
        if (tab == std::wstring::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? static_cast<size_t>(cb) : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], cb, nullptr, nullptr);
    return out;
}

DWORD OpenPipeForWriting(const std::wstring& name, OS::UniqueFile& pipe, DWORD busyWaitMs) {
    const std::wstring path = L"\\\\.\\pipe\\" + name;
    const DWORD start = GetTickCount();
    for (;;) {
        pipe.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe.valid()) break;
        const DWORD error = GetLastError();
        const DWORD elapsed = GetTickCount() - start;
        if (error != ERROR_PIPE_BUSY || elapsed >= busyWaitMs) return error;
        if (!WaitNamedPipeW(path.c_str(), busyWaitMs - elapsed) && GetLastError() != ERROR_SEM_TIMEOUT)
            return GetLastError();
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        pipe.reset();
        return error;
    }
    return 0;
}

DWORD WriteMessages(HANDLE pipe, const void* data, size_t cb, size_t pieceBytes) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (pieceBytes == 0) pieceBytes = cb;
    size_t done = 0;
    while (done < cb) {
        const DWORD cbPiece = static_cast<DWORD>(std::min(pieceBytes, cb - done));
        DWORD cbWritten = 0;
        if (!WriteFile(pipe, bytes + done, cbPiece, &cbWritten, nullptr)) return GetLastError();
        if (cbWritten == 0) return ERROR_WRITE_FAULT;
        done += cbWritten;
    }
    return 0;
}

DWORD FloodMessages(HANDLE pipe, HANDLE stop) {
    const std::vector<BYTE> piece(1024, 'e');
    while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
        if (const DWORD error = WriteMessages(pipe, piece.data(), piece.size())) return error;
    }
    return 0;
}

DWORD RunForger(const std::wstring& replyPipe, const std::wstring& text) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder.erase(folder.find_last_of(L'\\') + 1);
    std::wstring commandLine =
        L"\"" + folder + L"cmdhandler_peer.exe\" --forge \"" + replyPipe + L"\" \"" + text + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return GetLastError();
    OS::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) return ERROR_TIMEOUT;
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

}  // namespace peers
