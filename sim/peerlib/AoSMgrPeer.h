// A stand-in for the server's add-on manager: serves its command pipe, takes
// each command apart (name, reply pipe, byte count, exactly that many payload
// bytes), decodes the registration request with a reader of its own and
// answers on the reply pipe as its script says.
#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "PeerSupport.h"
#include "PipeCollector.h"
#include "aos/AoSSrvSDK.h"

namespace peers {

struct AoSComponentItem {
    std::wstring text1, text2;
    int number = 0;
};
struct AoSUIExtensionItem {
    std::wstring groupId, extensionFileName, description;
    int allowed = 0, deletable = 0;
};
struct AoSUIPageItem {
    std::wstring name, url;
};

// The request message as the manager reads it.
struct AoSRequestMessage {
    int id = 0;
    std::wstring plsId, plsVersion, installPath, auxText, plugInPath, uninstallPath;
    int componentCount = 0;  // as sent; elements follow only for a positive count
    std::vector<AoSComponentItem> components;
    int uiExtensionCount = 0;
    std::vector<AoSUIExtensionItem> uiExtensions;
    int pageCount = 0;
    std::vector<AoSUIPageItem> pages;
    std::vector<BYTE> trailing;  // bytes after the message (the sender's two zero bytes)
};

// Reads a request message; false with a reason when it is malformed or cut short.
bool DecodeAoSRequest(const BYTE* data, size_t cb, AoSRequestMessage& message, std::wstring& error);
// Reply message: int32 id, int32 status, text.
std::vector<BYTE> EncodeAoSReply(int replyId, int status, const std::wstring& errorText);
// 1116 for 1115, 1118 for 1117, otherwise id + 1.
int ReplyIdFor(int requestId);

// How the peer answers one command.
struct AoSBehaviour {
    enum Kind {
        kStatus,   // correct reply id, the status and the error text
        kWrongId,  // the other operation's reply id (1118 for a registration), then status and text
        kShort,    // only the 4-byte reply id
        kEmpty,    // connect to the reply pipe and close without writing
        kSilence,  // never connect
        kStall,    // connect and write nothing, keep the pipe open until the peer stops
        kEndless   // the reply id, then 1024-byte messages until the reader gives up
    };
    Kind kind = kStatus;
    int status = 0;
    std::wstring errorText;

    static AoSBehaviour Status(int status, std::wstring errorText = std::wstring());
    static AoSBehaviour Of(Kind kind);
    // "status:N[:text]", "wrongid", "short", "empty", "silence", "stall", "endless".
    static bool Parse(const std::wstring& text, AoSBehaviour& behaviour);
    std::wstring Describe() const;
};

// One command as the peer received and understood it.
struct AoSCommand {
    std::wstring name;        // field 1
    std::wstring replyPipe;   // field 2
    std::wstring countField;  // field 3 as sent
    unsigned declaredBytes = 0;
    std::vector<BYTE> payload;  // exactly declaredBytes bytes when complete
    size_t extraBytes = 0;      // bytes after the declared payload
    std::vector<DWORD> messageBytes;
    bool decoded = false;
    std::wstring error;  // why the command or its payload could not be read
    AoSRequestMessage message;
    AoSBehaviour answer;  // what the peer answered
};

// Splits a received command; false (with error set) when it is not a command.
bool ParseAoSCommand(const std::vector<BYTE>& bytes, AoSCommand& command);

class AoSMgrPeer {
public:
    static constexpr const wchar_t* kDefaultPipeName = L"Norvale KpsAoSMgr Command Handler Manager";

    explicit AoSMgrPeer(std::wstring pipeName = kDefaultPipeName, unsigned instances = 4);
    ~AoSMgrPeer();
    AoSMgrPeer(const AoSMgrPeer&) = delete;
    AoSMgrPeer& operator=(const AoSMgrPeer&) = delete;

    // Answer for commands when the queue is empty ("status 0" unless set).
    void SetDefaultBehaviour(const AoSBehaviour& behaviour);
    // Answers for the next commands, one each, in order.
    void QueueBehaviour(const AoSBehaviour& behaviour);
    // Decides the answer from the command itself; when set, queue and default are not used.
    void SetResponder(std::function<AoSBehaviour(const AoSCommand&)> responder);
    // On an answered registration with status 0, create the add-on's component
    // entry in the registry as a real manager would.
    void SetRegisterEntries(bool on, int platform = 1, int language = 9);
    // Called on a serving thread for every command, before it is answered.
    void SetOnCommand(std::function<void(const AoSCommand&)> onCommand) { m_onCommand = std::move(onCommand); }

    bool Start();
    void Stop();
    DWORD LastError() const { return m_collector.LastError(); }

    bool WaitForCommands(size_t count, DWORD timeoutMs) { return m_commands.WaitFor(count, timeoutMs); }
    std::vector<AoSCommand> Commands() const { return m_commands.All(); }
    size_t CommandCount() const { return m_commands.Count(); }
    void Clear() { m_commands.Clear(); }
    // Replies that could not be delivered (the reply pipe did not open or a write failed).
    size_t AnswerFailures() const;

private:
    void Handle(Connection& connection);
    AoSBehaviour NextBehaviour(const AoSCommand& command);
    void Answer(const AoSCommand& command);
    void RegisterEntry(const AoSRequestMessage& message);

    PipeCollector m_collector;
    mutable std::mutex m_lock;
    std::deque<AoSBehaviour> m_queue;
    AoSBehaviour m_default;
    std::function<AoSBehaviour(const AoSCommand&)> m_responder;
    bool m_registerEntries = false;
    int m_platform = 1;
    int m_language = 9;
    size_t m_answerFailures = 0;
    std::mutex m_callbackLock;
    std::function<void(const AoSCommand&)> m_onCommand;
    RecordStore<AoSCommand> m_commands;
};

// Where a registered add-on's component entry lives (64-bit view of HKLM).
extern const wchar_t kAoSRootKey[];  // "SOFTWARE\Norvale\Quillon\service\AoS"

// The registration record an installer of the add-on sends: its id, version,
// folders and one console page at pageUrl. page receives the page entry that
// the record points to and must outlive it.
AoSData SampleRegistration(AoSUIPage& page, const wchar_t* pageUrl);

}  // namespace peers
