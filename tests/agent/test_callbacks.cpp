// The installer callbacks through the DLL's exports, each test with a freshly
// loaded library and its own simulated server.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ServerFixture.h"
#include "foundation/win_Handle.h"
#include "installer/WDXPatchAgent.h"

using testsupport::FileExists;
using testsupport::ReadFileBytes;
using testsupport::SimulatedServer;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

std::string Narrow(const std::wstring& text) {
    char buffer[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

ItemVersion Version(unsigned major, unsigned minor, unsigned build) {
    return ItemVersion{(major << 16) | minor, build};
}

class Callbacks : public testing::Test {
protected:
    void SetUp() override {
        std::wstring dll = testsupport::ExeDir() + L"\\WDXPatchAgent.dll";
        m_dll.reset(LoadLibraryW(dll.c_str()));
        ASSERT_TRUE(m_dll.valid());
        startAction = Get<PFN_StartAction>("StartAction");
        startItem = Get<PFN_StartItem>("StartItem");
        checkFileEx = Get<PFN_CheckFileEx>("CheckFileEx");
        endItem = Get<PFN_EndItem>("EndItem");
        isRollbackEx = Get<PFN_IsRollbackEx>("IsRollbackEx");
        endAction = Get<PFN_EndAction>("EndAction");
    }

    template <typename F>
    F Get(const char* name) {
        F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_dll.get(), name)));
        EXPECT_NE(nullptr, f) << name;
        return f;
    }

    // A package file in the staging folder, as the installer extracts it.
    std::wstring Stage(const std::wstring& name, const std::string& content) {
        std::wstring path = m_staging.Join(name);
        WriteFileText(path, content);
        return path;
    }

    int Check(const std::wstring& path) { return checkFileEx(Narrow(path).c_str()); }

    OS::UniqueModule m_dll;
    TempDir m_staging{L"staging"};
    PFN_StartAction startAction = nullptr;
    PFN_StartItem startItem = nullptr;
    PFN_CheckFileEx checkFileEx = nullptr;
    PFN_EndItem endItem = nullptr;
    PFN_IsRollbackEx isRollbackEx = nullptr;
    PFN_EndAction endAction = nullptr;
};

#ifndef _WIN64
// Calls fn with count 32-bit arguments as a cdecl caller does (pushed right to
// left, removed by the caller) and stores in espDelta how far the callee moved
// the stack pointer: 0 for a cdecl callee, the arguments' size for a callee
// that removes them itself (stdcall). Returns what fn returned.
extern "C" int __cdecl wdx_call_measure(const void* fn, const unsigned* args, int count, int* espDelta);
__asm__(
    ".text\n"
    ".globl _wdx_call_measure\n"
    "_wdx_call_measure:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    movl 8(%ebp), %ebx\n"
    "    movl 12(%ebp), %esi\n"
    "    movl 16(%ebp), %ecx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  movl %esp, %edi\n"
    "    call *%ebx\n"
    "    movl %esp, %ecx\n"
    "    subl %edi, %ecx\n"
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");
#endif

TEST_F(Callbacks, StartActionCreatesAddonFolderAndAcceptsExistingOne) {
    SimulatedServer server(L"cb", L"10_6");
    EXPECT_EQ(0, startAction());
    EXPECT_TRUE(FileExists(server.AddonFolder()));
    EXPECT_EQ(0, startAction());
}

TEST_F(Callbacks, RefusedServerCreatesNoFolder) {
    SimulatedServer server(L"cb", L"10_5");
    EXPECT_EQ(1, startAction());
    EXPECT_FALSE(FileExists(server.AddonFolder()));
}

TEST_F(Callbacks, InstallCopiesFilesFlatIntoAddonFolder) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    CreateDirectoryW(m_staging.Join(L"bin").c_str(), nullptr);
    EXPECT_EQ(1, Check(Stage(L"bin\\WDXPlugIn.dll", "plugin")));
    EXPECT_EQ(1, Check(Stage(L"Uninstall.exe", "uninstaller")));
    ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
    // No add-on manager answers here, so the registration step fails after the copy.
    EXPECT_EQ(0, endItem(1, &from, &to));
    EXPECT_EQ("plugin", ReadFileBytes(server.AddonFolder() + L"\\WDXPlugIn.dll"));
    EXPECT_EQ("uninstaller", ReadFileBytes(server.AddonFolder() + L"\\Uninstall.exe"));
}

TEST_F(Callbacks, FileTableKeepsEarlierItems) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
    ASSERT_EQ(1, Check(Stage(L"first.txt", "1")));
    endItem(1, &from, &to);
    DeleteFileW((server.AddonFolder() + L"\\first.txt").c_str());
    ASSERT_EQ(1, Check(Stage(L"second.txt", "2")));
    endItem(1, &from, &to);
    EXPECT_TRUE(FileExists(server.AddonFolder() + L"\\first.txt"));
    EXPECT_TRUE(FileExists(server.AddonFolder() + L"\\second.txt"));
}

TEST_F(Callbacks, LockedTargetIsMovedAsideAndReplaced) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    std::wstring target = server.AddonFolder() + L"\\locked.dll";
    WriteFileText(target, "old");
    ASSERT_EQ(1, Check(Stage(L"locked.dll", "new")));
    {
        // Readers that allow renaming but not writing block the plain copy.
        OS::UniqueFile lock(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.valid());
        ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
        endItem(1, &from, &to);
        EXPECT_EQ("new", ReadFileBytes(target));
    }
    EXPECT_FALSE(FileExists(target + L".bak"));
}

TEST_F(Callbacks, MissingSourceStopsItemAndKeepsBackup) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    std::wstring present = server.AddonFolder() + L"\\present.dll";
    WriteFileText(present, "old");
    ASSERT_EQ(1, Check(m_staging.Join(L"present.dll")));  // never staged
    ASSERT_EQ(1, Check(Stage(L"later.dll", "later")));
    ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
    EXPECT_EQ(0, endItem(1, &from, &to));
    EXPECT_FALSE(FileExists(present));
    EXPECT_EQ("old", ReadFileBytes(present + L".bak"));
    EXPECT_FALSE(FileExists(server.AddonFolder() + L"\\later.dll")) << "records after the failure are untouched";
}

TEST_F(Callbacks, MissingSourceWithoutTargetFailsAtTheMove) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    ASSERT_EQ(1, Check(m_staging.Join(L"absent.dll")));
    ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
    EXPECT_EQ(0, endItem(1, &from, &to));
    EXPECT_FALSE(FileExists(server.AddonFolder() + L"\\absent.dll.bak"));
}

TEST_F(Callbacks, InstallOrRollbackByUnsignedVersionOrder) {
    const struct {
        ItemVersion from, to;
        bool installs;
    } cases[] = {
        {Version(10, 6, 1045), Version(10, 6, 1045), false},  // equal rolls back
        {Version(10, 5, 9999), Version(10, 6, 1), true},      // newer version, any build
        {Version(10, 6, 1045), Version(10, 6, 1046), true},   // same version, newer build
        {Version(10, 6, 1046), Version(10, 6, 1045), false},
        {Version(0x7FFF, 0, 0), ItemVersion{0x80000000u, 0}, true},  // top bit set is larger
        {ItemVersion{0x80000000u, 0}, Version(0x7FFF, 0, 0), false},
        {ItemVersion{1, 0x7FFFFFFFu}, ItemVersion{1, 0x80000000u}, true},
    };
    SimulatedServer server(L"cb", L"10_6");
    for (const auto& c : cases) {
        ASSERT_EQ(0, startAction());
        int result = endItem(0, &c.from, &c.to);
        const bool folderKept = FileExists(server.AddonFolder());
        EXPECT_EQ(c.installs, folderKept) << "case " << (&c - cases);
        if (!c.installs) {
            EXPECT_EQ(1, result);
        }
    }
}

TEST_F(Callbacks, RollbackOfMissingFolderStillSucceeds) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    ItemVersion v = Version(10, 6, 1045);
    EXPECT_EQ(1, endItem(0, &v, &v));
    EXPECT_FALSE(FileExists(server.AddonFolder()));
    EXPECT_EQ(1, endItem(0, &v, &v));
}

TEST_F(Callbacks, RejectsPathsWithoutFileName) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    EXPECT_EQ(-1, checkFileEx(""));
    EXPECT_EQ(-1, checkFileEx(nullptr));
    EXPECT_EQ(-1, checkFileEx("C:\\folder\\"));
}

TEST_F(Callbacks, OverlongTargetIsRefusedNotCut) {
    SimulatedServer server(L"cb", L"10_6");
    ASSERT_EQ(0, startAction());
    std::string longName(250, 'f');
    EXPECT_EQ(-1, checkFileEx(("C:\\x\\" + longName + ".dll").c_str()));
    // A name part longer than the split buffers is rejected by the split itself.
    EXPECT_EQ(-1, checkFileEx(("C:\\x\\" + std::string(300, 'g') + ".dll").c_str()));
    ASSERT_EQ(1, Check(Stage(L"short.dll", "s")));
    ItemVersion from = Version(10, 5, 1000), to = Version(10, 6, 1045);
    endItem(1, &from, &to);
    EXPECT_TRUE(FileExists(server.AddonFolder() + L"\\short.dll"));
}

#ifndef _WIN64
// A 32-bit installer host calls the exports as cdecl functions: the arguments
// are the caller's to remove. (x64 has one calling convention only.)
TEST_F(Callbacks, ExportsLeaveTheArgumentsToTheCaller) {
    SimulatedServer server(L"cb", L"10_6");
    const std::string path = Narrow(Stage(L"WDXPlugIn.dll", "plug-in"));
    ItemVersion newer = Version(10, 6, 1045), older = Version(10, 5, 1000);
    auto word = [](const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); };
    struct Call {
        const char* name;
        const void* fn;
        std::vector<unsigned> args;
        int expected;
    } calls[] = {
        {"StartAction", reinterpret_cast<const void*>(startAction), {}, 0},
        {"StartItem",
         reinterpret_cast<const void*>(startItem),
         {word("item.zip"), 3, 4, 0x10u, word(&newer), word(&older)},
         1},
        {"CheckFileEx", reinterpret_cast<const void*>(checkFileEx), {word(path.c_str())}, 1},
        {"EndItem", reinterpret_cast<const void*>(endItem), {1, word(&newer), word(&older)}, 1},  // a rollback
        {"IsRollbackEx", reinterpret_cast<const void*>(isRollbackEx), {}, 1},
        {"EndAction", reinterpret_cast<const void*>(endAction), {}, 0},
    };
    for (const Call& call : calls) {
        int espDelta = -1;
        const int result = wdx_call_measure(call.fn, call.args.data(), static_cast<int>(call.args.size()), &espDelta);
        EXPECT_EQ(0, espDelta) << call.name;
        EXPECT_EQ(call.expected, result) << call.name;
    }
}
#endif

}  // namespace
