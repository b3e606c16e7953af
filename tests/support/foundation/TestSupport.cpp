#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

#include "foundation/win_Handle.h"

namespace testsupport {

TempDir::TempDir(const wchar_t* tag) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    m_path = std::wstring(base) + L"wdxtest_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(GetTickCount());
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path) {
    std::vector<wchar_t> list(path.begin(), path.end());
    list.push_back(L'\0');
    list.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = list.data();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

void WriteFileText(const std::wstring& path, const std::string& bytes) {
    OS::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileBytes(const std::wstring& path) {
    OS::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::string out;
    if (!file) return out;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
    return out;
}

std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    size_t slash = dir.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"." : dir.substr(0, slash);
}

void RunTogether(int threads, const std::function<void()>& body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&] {
            for (++ready; ready < threads;) {
            }
            body();
        });
    for (std::thread& thread : running) thread.join();
}

bool InOwnProcess() {
    const wchar_t kMarker[] = L"WDX_TEST_IN_OWN_PROCESS";
    if (GetEnvironmentVariableW(kMarker, nullptr, 0) != 0) return true;
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(exe) + L"\" --gtest_filter=" + std::wstring(filter.begin(), filter.end());
    SetEnvironmentVariableW(kMarker, L"1");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessW(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(kMarker, nullptr);
    EXPECT_TRUE(started) << "CreateProcess failed: " << GetLastError();
    if (!started) return false;
    OS::UniqueHandle thread(process.hThread), child(process.hProcess);
    if (WaitForSingleObject(child.get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(child.get(), 1);
        ADD_FAILURE() << filter << " did not end in 120 s";
        return false;
    }
    DWORD code = 1;
    GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(0u, code) << filter << " failed in its own process";
    return false;
}

std::vector<LocalLine> g_localLines;

void RecordLocal(int level, const wchar_t*, int, const wchar_t* format, ...) {
    wchar_t text[1024] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 1023, format, args);
    va_end(args);
    g_localLines.push_back({level, text});
}

DWORD Slack(DWORD ms) {
    static const DWORD factor = [] {
        wchar_t text[8] = {};
        const DWORD n = GetEnvironmentVariableW(L"WDX_TIME_SLACK", text, 8);
        const long value = n > 0 && n < 8 ? wcstol(text, nullptr, 10) : 1;
        return static_cast<DWORD>(value < 1 ? 1 : value > 20 ? 20 : value);
    }();
    return ms > MAXDWORD / factor ? MAXDWORD - 1 : ms * factor;
}

Watchdog::Watchdog(DWORD timeoutMs, const char* what) : m_disarm(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    HANDLE disarm = m_disarm.get();
    timeoutMs = Slack(timeoutMs);
    std::string label = what != nullptr ? what : "test";
    m_thread = std::thread([disarm, timeoutMs, label] {
        if (WaitForSingleObject(disarm, timeoutMs) == WAIT_OBJECT_0) return;
        std::fprintf(stderr, "watchdog: %s did not finish within %lu ms\n", label.c_str(),
                     static_cast<unsigned long>(timeoutMs));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    });
}

Watchdog::~Watchdog() {
    SetEvent(m_disarm.get());
    m_thread.join();
}

}  // namespace testsupport
