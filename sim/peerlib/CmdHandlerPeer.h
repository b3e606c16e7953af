// A stand-in for the server's general command handler: serves its command
// pipe, reads each command text (UTF-16, TAB-separated, field 2 naming the
// reply pipe) and answers on the reply pipe with a text chosen by command name
// or by a responder callback.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "PeerSupport.h"
#include "PipeCollector.h"

namespace peers {

struct CmdReply {
    enum Kind {
        kText,     // write the text (UTF-16LE, no NUL) in messages of at most pieceBytes
        kEmpty,    // connect and close without writing
        kSilence,  // never connect
        kStall,    // connect, write nothing, keep the pipe open until the peer stops
        kEndless   // connect and write 1024-byte messages until the reader gives up
    };
    Kind kind = kText;
    std::wstring text;
    size_t pieceBytes = 1024;
    // When set, another process writes this into the reply pipe before the peer answers.
    std::wstring forgedFirst;

    static CmdReply Text(std::wstring text, size_t pieceBytes = 1024);
    static CmdReply Of(Kind kind);
};

struct ServerCommand {
    std::wstring raw;                  // the whole command text
    std::vector<std::wstring> fields;  // raw split at every TAB
    std::vector<DWORD> messageBytes;
    CmdReply answer;

    std::wstring Field(size_t i) const { return i < fields.size() ? fields[i] : std::wstring(); }
};

class CmdHandlerPeer {
public:
    static constexpr const wchar_t* kDefaultPipeName = L"Norvale KPSE Command Handler Manager";
    typedef std::function<CmdReply(const ServerCommand&)> Responder;

    explicit CmdHandlerPeer(std::wstring pipeName = kDefaultPipeName, unsigned instances = 4);
    ~CmdHandlerPeer();
    CmdHandlerPeer(const CmdHandlerPeer&) = delete;
    CmdHandlerPeer& operator=(const CmdHandlerPeer&) = delete;

    // Reply for a command name (field 1); other commands get the default reply
    // (the empty reply unless set). A responder, when set, decides instead.
    void SetReply(const std::wstring& commandName, const CmdReply& reply);
    void SetDefaultReply(const CmdReply& reply);
    void SetResponder(Responder responder);
    void SetOnCommand(std::function<void(const ServerCommand&)> onCommand) { m_onCommand = std::move(onCommand); }

    bool Start();
    void Stop();
    DWORD LastError() const { return m_collector.LastError(); }

    bool WaitForCommands(size_t count, DWORD timeoutMs) { return m_commands.WaitFor(count, timeoutMs); }
    std::vector<ServerCommand> Commands() const { return m_commands.All(); }
    void Clear() { m_commands.Clear(); }
    size_t AnswerFailures() const;

private:
    void Handle(Connection& connection);
    CmdReply Choose(const ServerCommand& command);
    void Answer(const std::wstring& replyPipe, const CmdReply& reply);

    PipeCollector m_collector;
    mutable std::mutex m_lock;
    std::map<std::wstring, CmdReply> m_replies;
    CmdReply m_default = CmdReply::Of(CmdReply::kEmpty);
    Responder m_responder;
    size_t m_answerFailures = 0;
    std::mutex m_callbackLock;
    std::function<void(const ServerCommand&)> m_onCommand;
    RecordStore<ServerCommand> m_commands;
};

}  // namespace peers
