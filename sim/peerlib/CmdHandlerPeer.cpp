#include "CmdHandlerPeer.h"

namespace peers {

namespace {
const DWORD kStallLimitMs = 120000;
}

CmdReply CmdReply::Text(std::wstring text, size_t pieceBytes) {
    CmdReply reply;
    reply.kind = kText;
    reply.text = std::move(text);
    reply.pieceBytes = pieceBytes;
    return reply;
}

CmdReply CmdReply::Of(Kind kind) {
    CmdReply reply;
    reply.kind = kind;
    return reply;
}

CmdHandlerPeer::CmdHandlerPeer(std::wstring pipeName, unsigned instances)
    : m_collector(std::move(pipeName), instances) {}

CmdHandlerPeer::~CmdHandlerPeer() { Stop(); }

void CmdHandlerPeer::SetReply(const std::wstring& commandName, const CmdReply& reply) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_replies[commandName] = reply;
}

void CmdHandlerPeer::SetDefaultReply(const CmdReply& reply) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_default = reply;
}

void CmdHandlerPeer::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_responder = std::move(responder);
}

size_t CmdHandlerPeer::AnswerFailures() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_answerFailures;
}

bool CmdHandlerPeer::Start() {
    return m_collector.Start([this](Connection& connection) { Handle(connection); });
}

void CmdHandlerPeer::Stop() { m_collector.Stop(); }

CmdReply CmdHandlerPeer::Choose(const ServerCommand& command) {
    Responder responder;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_responder) {
            const auto found = m_replies.find(command.Field(0));
            return found != m_replies.end() ? found->second : m_default;
        }
        responder = m_responder;
    }
    return responder(command);
}

void CmdHandlerPeer::Handle(Connection& connection) {
    ServerCommand command;
    command.messageBytes = connection.messageBytes;
    command.raw.assign(reinterpret_cast<const wchar_t*>(connection.bytes.data()),
                       connection.bytes.size() / sizeof(wchar_t));
    command.fields = SplitTabs(command.raw);
    command.answer = Choose(command);
    const std::wstring replyPipe = command.Field(1);
    if (replyPipe.empty()) command.answer = CmdReply::Of(CmdReply::kSilence);
    m_commands.Add(command);
    if (m_onCommand) {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        m_onCommand(command);
    }
    Answer(replyPipe, command.answer);
}

void CmdHandlerPeer::Answer(const std::wstring& replyPipe, const CmdReply& reply) {
    if (reply.kind == CmdReply::kSilence) return;
    OS::UniqueFile pipe;
    // The forger's own result does not matter: it may be refused before it writes.
    if (!reply.forgedFirst.empty()) RunForger(replyPipe, reply.forgedFirst);
    DWORD error = OpenPipeForWriting(replyPipe, pipe);
    if (error == 0 && reply.kind == CmdReply::kEndless) FloodMessages(pipe.get(), m_collector.StopEvent());
    if (error == 0 && reply.kind == CmdReply::kText)
        error = WriteMessages(pipe.get(), reply.text.data(), reply.text.size() * sizeof(wchar_t), reply.pieceBytes);
    if (error == 0 && reply.kind == CmdReply::kStall) WaitForSingleObject(m_collector.StopEvent(), kStallLimitMs);
    if (error != 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_answerFailures;
    }
}

}  // namespace peers
