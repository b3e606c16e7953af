// The peer programs the demo runs in the background: started as processes,
// spoken to through the library's own dispatch calls.
#include <gtest/gtest.h>

#include <string>

#include "CmdHandlerPeer.h"
#include "TestSupport.h"
#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "ipc/util_ipc_msg_buffer.h"

namespace {

// A peer program started for one test and ended with it.
class PeerProcess {
public:
    PeerProcess(const std::wstring& exe, const std::wstring& arguments, const wchar_t* pipeName) {
        std::wstring commandLine = L"\"" + testsupport::ExeDir() + L"\\" + exe + L"\" " + arguments;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
        m_process.reset(pi.hProcess);
        OS::UniqueHandle thread(pi.hThread);
        const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + pipeName;
        for (int i = 0; i < 200 && !m_ready; ++i) {  // until the pipe is served
            m_ready = WaitNamedPipeW(path.c_str(), 50) || GetLastError() == ERROR_SEM_TIMEOUT;
            if (!m_ready) Sleep(50);
        }
    }
    ~PeerProcess() {
        if (m_process) {
            TerminateProcess(m_process.get(), 0);
            WaitForSingleObject(m_process.get(), 5000);
        }
    }
    bool Ready() const { return m_ready; }

private:
    OS::UniqueHandle m_process;
    bool m_ready = false;
};

TEST(PeerPrograms, AddOnManagerPrintsTheRequestAndItsAnswer) {
    testsupport::Watchdog watchdog(60000, "aosmgr_peer program test");
    testsupport::TempDir dir(L"aosmgr");
    const std::wstring out = dir.Join(L"requests.txt");
    const std::wstring arguments = L"--seconds 30 --quiet --behaviour \"status:5:no room\" --out \"" + out + L"\"";
    PeerProcess peer(L"aosmgr_peer.exe", arguments, L"Norvale KpsAoSMgr Command Handler Manager");
    ASSERT_TRUE(peer.Ready());
    CIPCMsgBuffer request(1024), reply(1024);
    request.PutInt32(1115).PutText(L"KPSE_ADDON_WDX").PutText(L"10.6.1045");
    for (int i = 0; i < 4; ++i) request.PutText(L"");
    request.PutInt32(0).PutInt32(0).PutInt32(1).PutText(L"Main Page").PutText(L"/wdx/\u00e9");
    ASSERT_TRUE(PLMCmdMgr_SendCommand(request, L"aosmgr_AOS_PLUGIN_REGISTER", reply, 10000));
    int id = 0, status = 0;
    reply.GetInt32(id);
    reply.GetInt32(status);
    EXPECT_EQ(id, 1116);
    EXPECT_EQ(status, 5);
    const std::string text = testsupport::ReadFileBytes(out);  // flushed per request
    for (const char* part :
         {"command: aosmgr_AOS_PLUGIN_REGISTER\n", "byte count: ", "message id: 1115\n", "wpszPLSId: KPSE_ADDON_WDX\n",
          "wpszPLSVersion: 10.6.1045\n", "  page[0] wpszPageName: Main Page\n",
          "  page[0] wpszPageURL: /wdx/\xc3\xa9\n", "answer: status 5 (no room)\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

// First a handler in this process answers, then (as after a restart of the
// service) another process serves the pipe: it is heard at once, also with a
// single instance of its pipe and a reply too long for the reply pipe's buffer.
TEST(PeerPrograms, CommandHandlerAnswersFromItsTable) {
    testsupport::Watchdog watchdog(60000, "cmdhandler_peer program test");
    {
        peers::CmdHandlerPeer inProcess;
        ASSERT_TRUE(inProcess.Start());
        const std::wstring firstPipe = MakeReplyPipeName(L"cmd_B");
        std::wstring answer;
        ASSERT_TRUE(cmdao_PipeSendAndRecv((L"cmd_B\t" + firstPipe).c_str(), -1, firstPipe.c_str(), answer, 10000));
    }
    const std::wstring value(1500, L'v');
    PeerProcess peer(L"cmdhandler_peer.exe", L"--seconds 30 --quiet --instances 1 --reply cmd_A=3900\\t" + value,
                     L"Norvale KPSE Command Handler Manager");
    ASSERT_TRUE(peer.Ready());
    const std::wstring replyPipe = MakeReplyPipeName(L"cmd_A");
    const std::wstring text = L"cmd_A\t" + replyPipe;
    std::wstring reply;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(cmdao_PipeSendAndRecv(text.c_str(), -1, replyPipe.c_str(), reply, 10000));
    EXPECT_LT(GetTickCount() - start, testsupport::Slack(5000));
    EXPECT_EQ(reply, L"3900\t" + value);
}

}  // namespace
