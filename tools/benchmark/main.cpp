// Measures the library's costs against bare equivalents in one run on one machine
// and prints the ratios. Not a test: the numbers depend on the machine.
//   benchmark [rounds]
//   benchmark --bare-exchange [rounds]   prints only (1)'s baseline, one bare
//                                        exchange, in microseconds (the web benchmark's floor)
//   benchmark --parse                    runs only (5), the request parser
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "AoSMgrPeer.h"
#include "CmdHandlerPeer.h"
#include "LogServerPeer.h"
#include "aos/AoSSrvSDK.h"
#include "aos/cmdao_OutputCmd.h"
#include "aos/util_plm_cmdHandler.h"
#include "diag/logcl_Command.h"
#include "foundation/trace_Trace.h"
#include "foundation/win_Handle.h"
#include "ipc/util_ipc_msg_buffer.h"

namespace {

const wchar_t kManagerPipe[] = L"\\\\.\\pipe\\Norvale KpsAoSMgr Command Handler Manager";
const wchar_t kLogPipe[] = L"\\\\.\\pipe\\Log_ServerNamePipe";
const DWORD kPipeBuffer = 1024;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double TimeBatch(const std::function<void()>& op, int calls) {
    double start = Now();
    for (int i = 0; i < calls; ++i) op();
    return (Now() - start) / calls;
}

// Median seconds per call over several batches.
double PerCall(const std::function<void()>& op, int callsPerBatch, int batches = 7) {
    std::vector<double> samples;
    for (int b = 0; b < batches; ++b) samples.push_back(TimeBatch(op, callsPerBatch));
    return Median(samples);
}

// Median seconds per call of two operations, their batches interleaved so that
// drift of the machine affects both alike.
std::pair<double, double> Compare(const std::function<void()>& product, const std::function<void()>& baseline,
                                  int callsPerBatch, int batches = 9) {
    std::vector<double> a, b;
    for (int i = 0; i < batches; ++i) {
        a.push_back(TimeBatch(product, callsPerBatch));
        b.push_back(TimeBatch(baseline, callsPerBatch));
    }
    return {Median(a), Median(b)};
}

// Reads every message of one connection until the writer closes.
std::vector<BYTE> ReadAll(HANDLE pipe) {
    std::vector<BYTE> bytes;
    BYTE chunk[4096];
    for (;;) {
        DWORD got = 0;
        BOOL ok = ReadFile(pipe, chunk, sizeof chunk, &got, nullptr);
        if (!ok && GetLastError() != ERROR_MORE_DATA) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

bool WriteAll(HANDLE pipe, const void* data, DWORD cb) {
    DWORD written = 0;
    return WriteFile(pipe, data, cb, &written, nullptr) && written == cb;
}

OS::UniqueFile OpenForWrite(const wchar_t* path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        OS::UniqueFile pipe(CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || GetLastError() != ERROR_PIPE_BUSY) return pipe;
        if (!WaitNamedPipeW(path, 20000)) break;
    }
    return OS::UniqueFile();
}

// The same pattern as the SDK, written directly: private reply pipe, command, reply.
void BareRequestReply(const std::vector<BYTE>& payload) {
    static unsigned counter = 0;
    std::wstring replyName = L"bench_reply" + std::to_wstring(GetCurrentThreadId()) + L"_" + std::to_wstring(++counter);
    std::wstring replyPath = L"\\\\.\\pipe\\" + replyName;
    OS::UniqueFile reply(CreateNamedPipeW(replyPath.c_str(), PIPE_ACCESS_INBOUND,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBuffer,
                                          kPipeBuffer, 1000, nullptr));
    std::wstring command =
        L"aosmgr_AOS_PLUGIN_REGISTER\t" + replyName + L"\t" + std::to_wstring(payload.size()) + L"\t";
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(command.data()),
                            reinterpret_cast<const BYTE*>(command.data() + command.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    {
        OS::UniqueFile pipe = OpenForWrite(kManagerPipe);
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
        for (size_t at = 0; at < bytes.size(); at += kPipeBuffer)
            WriteAll(pipe.get(), bytes.data() + at,
                     static_cast<DWORD>(std::min<size_t>(kPipeBuffer, bytes.size() - at)));
    }
    if (ConnectNamedPipe(reply.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) ReadAll(reply.get());
}

void Report(const char* what, double product, double baseline, const char* target) {
    std::printf("%-52s %12.2f us %12.2f us %10.2fx   %s\n", what, product * 1e6, baseline * 1e6, product / baseline,
                target);
    std::fflush(stdout);
}

const wchar_t kPageUrl[] = L"../cgi/cgiShowAoS.exe?ID=KPSE_ADDON_WDX&URLROUTE=UI_DISPLAY_PAGE_MANAGEMENT";

// The registration's request as the manager receives it: the message and its two zero bytes.
std::vector<BYTE> RegistrationPayload(const AoSData& record) {
    CIPCMsgBuffer request(1024);
    SerializeAoSData(1115, request, record);
    std::vector<BYTE> payload(request.GetData(), request.GetData() + request.BytesUsed());
    payload.push_back(0);
    payload.push_back(0);
    return payload;
}

void MeasureRegistration(int rounds) {
    // Both sides talk to the same manager peer, so only the client side differs.
    peers::AoSMgrPeer manager;
    if (!manager.Start()) {
        std::printf("cannot serve the manager pipe (err=%lu)\n", manager.LastError());
        return;
    }
    AoSUIPage page;
    AoSData record = peers::SampleRegistration(page, kPageUrl);
    const std::vector<BYTE> payload = RegistrationPayload(record);
    for (int i = 0; i < 20; ++i) AoSSrv_Register(&record);  // warm-up; suspends tracing (no log server)
    // More batches than the other measures: a round trip is a dozen kernel calls
    // whose cost drifts with the machine's load.
    auto times = Compare([&] { AoSSrv_Register(&record); }, [&] { BareRequestReply(payload); }, rounds, 15);
    Report("(1) AoSSrv_Register round trip vs bare two pipes", times.first, times.second, "target <= 1.3x");
    if (manager.AnswerFailures() != 0)
        std::printf("    (the manager could not answer %zu requests)\n", manager.AnswerFailures());
    manager.Stop();
}

void MeasureTracing(int rounds) {
    peers::LogServerPeer logServer(peers::LogServerPeer::kDefaultPipeName, 4);
    if (!logServer.Start()) {
        std::printf("cannot serve the log pipe (err=%lu)\n", logServer.LastError());
        return;
    }
    const std::wstring text = L"[][benchmark.exe][bench] a trace line of ordinary length, value 42";
    std::wstring record = L"LOG_WRITE\t1300000000\t4\t8\t68\t.\\bench\t146\t" + text;
    FrameworkChannel::Channel().ResetGate();
    FrameworkChannel::TraceWrite(68, L".\\bench", 146, L"[bench] warm-up");
    auto times = Compare(
        [&] {
            FrameworkChannel::TraceWrite(68, L".\\bench", 146, L"[bench] a trace line of ordinary length, value %d",
                                         42);
        },
        [&] {
            OS::UniqueFile pipe = OpenForWrite(kLogPipe);
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
            WriteAll(pipe.get(), record.c_str(), static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t)));
        },
        rounds);
    const double traced = times.first;
    Report("(2) trace line to a live log server vs bare pipe write", traced, times.second, "target <= 1.3x");
    logServer.Stop();

    FrameworkChannel::Channel().ResetGate();
    FrameworkChannel::TraceWrite(68, L".\\bench", 1, L"[bench] fails and suspends the channel");
    double suspended =
        PerCall([&] { FrameworkChannel::TraceWrite(68, L".\\bench", 146, L"[bench] dropped %d", 42); }, 1000000);
    Report("(3) sent trace line vs suspended trace call", traced, suspended, "target >= 1000x");
}

void MeasureMessageBuffer() {
    const size_t kTexts = 1000;
    const std::wstring text(511, L'm');  // 1028 bytes encoded: about 1 MB in all
    std::vector<BYTE> flat;
    double encodeDecode = PerCall(
        [&] {
            CIPCMsgBuffer message;
            for (size_t i = 0; i < kTexts; ++i) message.PutInt32(static_cast<int>(i)).PutText(text);
            CIPCMsgBuffer reader(message);
            int value = 0;
            const wchar_t* view = nullptr;
            for (size_t i = 0; i < kTexts; ++i) {
                reader.GetInt32(value);
                reader.GetText(view);
            }
            if (flat.empty()) flat.assign(message.GetData(), message.GetData() + message.BytesUsed());
        },
        20);
    std::vector<BYTE> target(flat.size());
    double copy = PerCall(
        [&] {
            std::memcpy(target.data(), flat.data(), flat.size());
            std::memcpy(flat.data(), target.data(), target.size());
        },
        200);
    char what[96];
    std::snprintf(what, sizeof what, "(4) encode+decode %zu-byte message vs memcpy", flat.size());
    Report(what, encodeDecode, copy, "reported only");
}

// The console's six independent queries: all sent before any reply is awaited,
// against the same six one after another. What it gains depends on whether the
// machine has a core free while the handler works.
void MeasureCommandsTogether(int rounds) {
    peers::CmdHandlerPeer handler(peers::CmdHandlerPeer::kDefaultPipeName, 8);
    handler.SetDefaultReply(peers::CmdReply::Text(L"5"));
    if (!handler.Start()) {
        std::printf("cannot serve the command pipe (err=%lu)\n", handler.LastError());
        return;
    }
    const int kCommands = 6;
    auto run = [&](bool together) {
        std::wstring pipes[kCommands], texts[kCommands];
        SCmdaoExchange exchanges[kCommands];
        SCmdaoExchange* all[kCommands];
        for (int i = 0; i < kCommands; ++i) {
            pipes[i] = MakeReplyPipeName((L"CMDHO_BENCH_" + std::to_wstring(i)).c_str());
            texts[i] = L"CMDHO_BENCH\t" + pipes[i];
            exchanges[i].text = texts[i].c_str();
            exchanges[i].replyPipe = pipes[i].c_str();
            all[i] = &exchanges[i];
        }
        if (together) {
            cmdao_PipeSendAllAndRecv(all, kCommands);
        } else {
            for (int i = 0; i < kCommands; ++i) cmdao_PipeSendAllAndRecv(&all[i], 1);
        }
    };
    auto times = Compare([&] { run(true); }, [&] { run(false); }, rounds);
    Report("(9) six server commands together vs one after another", times.first, times.second, "reported only");
}

// (1)'s baseline alone: one bare request and reply with the manager in this process.
int MeasureBareExchange(int rounds) {
    peers::AoSMgrPeer manager;
    if (!manager.Start()) {
        std::fprintf(stderr, "cannot serve the manager pipe (err=%lu)\n", manager.LastError());
        return 1;
    }
    AoSUIPage page;
    const std::vector<BYTE> payload = RegistrationPayload(peers::SampleRegistration(page, kPageUrl));
    for (int i = 0; i < 20; ++i) BareRequestReply(payload);
    std::printf("%.1f\n", PerCall([&] { BareRequestReply(payload); }, rounds, 15) * 1e6);
    manager.Stop();
    return 0;
}

}  // namespace

void MeasureCgiParsing();  // bench_cgi.cpp

int wmain(int argc, wchar_t** argv) {
    InstallLogClients();                                    // this program links the layers, not the DLL
    if (argc > 1 && std::wstring(argv[1]) == L"--parse") {  // (5) alone
        MeasureCgiParsing();
        return 0;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"--bare-exchange")
        return MeasureBareExchange(argc > 2 ? std::max(1, _wtoi(argv[2])) : 40);
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 40;
    std::printf("%-52s %15s %15s %11s\n", "measure", "product", "baseline", "ratio");
    MeasureRegistration(rounds);
    MeasureTracing(rounds * 5);
    MeasureCommandsTogether(std::max(1, rounds / 4));
    MeasureMessageBuffer();
    MeasureCgiParsing();
    return 0;
}
