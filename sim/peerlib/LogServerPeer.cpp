#include "LogServerPeer.h"

namespace peers {

LogServerPeer::LogServerPeer(std::wstring pipeName, unsigned instances) : m_collector(std::move(pipeName), instances) {}

LogServerPeer::~LogServerPeer() { Stop(); }

bool LogServerPeer::Start() {
    return m_collector.Start([this](Connection& connection) { Store(connection); });
}

void LogServerPeer::Stop() { m_collector.Stop(); }

void LogServerPeer::Store(const Connection& connection) {
    LogRecord record;
    record.messageBytes = connection.messageBytes;
    record.raw.assign(reinterpret_cast<const wchar_t*>(connection.bytes.data()),
                      connection.bytes.size() / sizeof(wchar_t));
    if (!record.raw.empty() && record.raw.back() == L'\0') {
        record.endsWithNul = true;
        record.raw.pop_back();
    }
    record.fields = SplitTabs(record.raw);
    m_records.Add(record);
    if (m_onRecord) {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        m_onRecord(record);
    }
}

}  // namespace peers
