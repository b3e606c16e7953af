#include "AoSMgrPeer.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace peers {

const wchar_t kAoSRootKey[] = L"SOFTWARE\\Norvale\\Quillon\\service\\AoS";

namespace {

const int kRegisterId = 1115;
const int kUnregisterId = 1117;
const DWORD kStallLimitMs = 120000;

// Bounds-checked little-endian reader over a request payload.
class Reader {
public:
    Reader(const BYTE* data, size_t cb) : m_data(data), m_cb(cb) {}

    bool Int32(int& value, const wchar_t* what) {
        if (m_cb - m_pos < 4) return Fail(what, L"int32 runs past the end");
        std::memcpy(&value, m_data + m_pos, 4);
        m_pos += 4;
        return true;
    }
    bool Text(std::wstring& value, const wchar_t* what) {
        unsigned cbText = 0;
        if (m_cb - m_pos < 4) return Fail(what, L"text length runs past the end");
        std::memcpy(&cbText, m_data + m_pos, 4);
        if (cbText > m_cb - m_pos - 4) return Fail(what, L"text runs past the end");
        if (cbText % 2 != 0) return Fail(what, L"odd text byte length");
        std::wstring units(cbText / 2, L'\0');
        if (!units.empty()) std::memcpy(&units[0], m_data + m_pos + 4, cbText);
        value = units.substr(0, units.find(L'\0'));
        m_pos += 4 + cbText;
        return true;
    }
    size_t Position() const { return m_pos; }
    const std::wstring& Error() const { return m_error; }

private:
    bool Fail(const wchar_t* what, const wchar_t* why) {
        m_error = std::wstring(what) + L": " + why + L" (offset " + std::to_wstring(m_pos) + L")";
        return false;
    }
    const BYTE* m_data;
    size_t m_cb;
    size_t m_pos = 0;
    std::wstring m_error;
};

bool ReadTexts(Reader& in, AoSRequestMessage& m) {
    return in.Text(m.plsId, L"wpszPLSId") && in.Text(m.plsVersion, L"wpszPLSVersion") &&
           in.Text(m.installPath, L"wpszInstallPath") && in.Text(m.auxText, L"wpszAuxText") &&
           in.Text(m.plugInPath, L"wpszPlugInPath") && in.Text(m.uninstallPath, L"wpszUninstallPath");
}

bool ReadComponents(Reader& in, AoSRequestMessage& m) {
    if (!in.Int32(m.componentCount, L"iComponentCount")) return false;
    for (int i = 0; i < m.componentCount; ++i) {
        AoSComponentItem item;
        if (!in.Text(item.text1, L"wpszText1") || !in.Text(item.text2, L"wpszText2") ||
            !in.Int32(item.number, L"iNumber"))
            return false;
        m.components.push_back(item);
    }
    return true;
}

bool ReadUIExtensions(Reader& in, AoSRequestMessage& m) {
    if (!in.Int32(m.uiExtensionCount, L"iTotalUIExtensionDataCount")) return false;
    for (int i = 0; i < m.uiExtensionCount; ++i) {
        AoSUIExtensionItem item;
        if (!in.Text(item.groupId, L"wpszGroupId") || !in.Text(item.extensionFileName, L"wpszExtensionFileName") ||
            !in.Text(item.description, L"wpszDescription") || !in.Int32(item.allowed, L"bAllowed") ||
            !in.Int32(item.deletable, L"bUIDeletable"))
            return false;
        m.uiExtensions.push_back(item);
    }
    return true;
}

bool ReadPages(Reader& in, AoSRequestMessage& m) {
    if (!in.Int32(m.pageCount, L"iUIPageCount")) return false;
    for (int i = 0; i < m.pageCount; ++i) {
        AoSUIPageItem item;
        if (!in.Text(item.name, L"wpszPageName") || !in.Text(item.url, L"wpszPageURL")) return false;
        m.pages.push_back(item);
    }
    return true;
}

void PutInt32(std::vector<BYTE>& out, int value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    out.insert(out.end(), bytes, bytes + 4);
}

bool IsTabUnit(const std::vector<BYTE>& bytes, size_t unit) {
    return bytes[2 * unit] == 0x09 && bytes[2 * unit + 1] == 0x00;
}

std::wstring UnitsToText(const std::vector<BYTE>& bytes, size_t firstUnit, size_t endUnit) {
    std::wstring text(endUnit - firstUnit, L'\0');
    if (!text.empty()) std::memcpy(&text[0], &bytes[2 * firstUnit], text.size() * 2);
    return text;
}

// Strict decimal: digits only, no sign, fits in 32 bits.
bool ParseCount(const std::wstring& text, unsigned& value) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        n = n * 10 + static_cast<unsigned>(c - L'0');
    }
    if (n > UINT_MAX) return false;
    value = static_cast<unsigned>(n);
    return true;
}

int WrongReplyIdFor(int requestId) {
    if (requestId == kRegisterId) return ReplyIdFor(kUnregisterId);
    if (requestId == kUnregisterId) return ReplyIdFor(kRegisterId);
    return ReplyIdFor(requestId) + 1000;
}

DWORD SetStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

bool DecodeAoSRequest(const BYTE* data, size_t cb, AoSRequestMessage& message, std::wstring& error) {
    message = AoSRequestMessage();
    Reader in(data, cb);
    const bool ok = in.Int32(message.id, L"message id") && ReadTexts(in, message) && ReadComponents(in, message) &&
                    ReadUIExtensions(in, message) && ReadPages(in, message);
    if (!ok) {
        error = in.Error();
        return false;
    }
    message.trailing.assign(data + in.Position(), data + cb);
    error.clear();
    return true;
}

std::vector<BYTE> EncodeAoSReply(int replyId, int status, const std::wstring& errorText) {
    std::vector<BYTE> out;
    PutInt32(out, replyId);
    PutInt32(out, status);
    const std::wstring text = errorText.substr(0, errorText.find(L'\0'));
    PutInt32(out, static_cast<int>((text.size() + 1) * sizeof(wchar_t)));
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    out.insert(out.end(), bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return out;
}

int ReplyIdFor(int requestId) {
    if (requestId == kRegisterId) return 1116;
    if (requestId == kUnregisterId) return 1118;
    return requestId + 1;
}

AoSBehaviour AoSBehaviour::Status(int status, std::wstring errorText) {
    AoSBehaviour b;
    b.kind = kStatus;
    b.status = status;
    b.errorText = std::move(errorText);
    return b;
}

AoSBehaviour AoSBehaviour::Of(Kind kind) {
    AoSBehaviour b;
    b.kind = kind;
    return b;
}

bool AoSBehaviour::Parse(const std::wstring& text, AoSBehaviour& behaviour) {
    const struct {
        const wchar_t* name;
        Kind kind;
    } plain[] = {{L"wrongid", kWrongId}, {L"short", kShort}, {L"empty", kEmpty},
                 {L"silence", kSilence}, {L"stall", kStall}, {L"endless", kEndless}};
    for (const auto& p : plain) {
        if (text == p.name) {
            behaviour = Of(p.kind);
            return true;
        }
    }
    if (text.compare(0, 7, L"status:") != 0) return false;
    const size_t colon = text.find(L':', 7);
    const std::wstring number = text.substr(7, colon == std::wstring::npos ? std::wstring::npos : colon - 7);
    wchar_t* end = nullptr;
    const long value = wcstol(number.c_str(), &end, 10);
    if (number.empty() || end == nullptr || *end != L'\0') return false;
    behaviour = Status(static_cast<int>(value), colon == std::wstring::npos ? L"" : text.substr(colon + 1));
    return true;
}

std::wstring AoSBehaviour::Describe() const {
    switch (kind) {
    case kStatus:
        return L"status " + std::to_wstring(status) + (errorText.empty() ? L"" : L" (" + errorText + L")");
    case kWrongId:
        return L"wrong reply id";
    case kShort:
        return L"short reply";
    case kEmpty:
        return L"empty reply";
    case kSilence:
        return L"silence";
    case kStall:
        return L"stall";
    case kEndless:
        return L"endless reply";
    }
    return L"?";
}

bool ParseAoSCommand(const std::vector<BYTE>& bytes, AoSCommand& command) {
    const size_t units = bytes.size() / 2;
    size_t tabs[3];
    size_t found = 0;
    for (size_t u = 0; u < units && found < 3; ++u) {
        if (IsTabUnit(bytes, u)) tabs[found++] = u;
    }
    if (found < 3) {
        command.error = L"fewer than four fields";
        return false;
    }
    command.name = UnitsToText(bytes, 0, tabs[0]);
    command.replyPipe = UnitsToText(bytes, tabs[0] + 1, tabs[1]);
    command.countField = UnitsToText(bytes, tabs[1] + 1, tabs[2]);
    if (!ParseCount(command.countField, command.declaredBytes)) {
        command.error = L"byte count is not a decimal number";
        return false;
    }
    const size_t start = (tabs[2] + 1) * 2;
    const size_t available = bytes.size() - start;
    if (available < command.declaredBytes) {
        command.payload.assign(bytes.begin() + start, bytes.end());
        command.error = L"payload has " + std::to_wstring(available) + L" bytes, " + command.countField + L" declared";
        return false;
    }
    command.payload.assign(bytes.begin() + start, bytes.begin() + start + command.declaredBytes);
    command.extraBytes = available - command.declaredBytes;
    return true;
}

AoSMgrPeer::AoSMgrPeer(std::wstring pipeName, unsigned instances) : m_collector(std::move(pipeName), instances) {}

AoSMgrPeer::~AoSMgrPeer() { Stop(); }

void AoSMgrPeer::SetDefaultBehaviour(const AoSBehaviour& behaviour) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_default = behaviour;
}

void AoSMgrPeer::QueueBehaviour(const AoSBehaviour& behaviour) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.push_back(behaviour);
}

void AoSMgrPeer::SetRegisterEntries(bool on, int platform, int language) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_registerEntries = on;
    m_platform = platform;
    m_language = language;
}

size_t AoSMgrPeer::AnswerFailures() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_answerFailures;
}

bool AoSMgrPeer::Start() {
    return m_collector.Start([this](Connection& connection) { Handle(connection); });
}

void AoSMgrPeer::Stop() { m_collector.Stop(); }

void AoSMgrPeer::SetResponder(std::function<AoSBehaviour(const AoSCommand&)> responder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_responder = std::move(responder);
}

AoSBehaviour AoSMgrPeer::NextBehaviour(const AoSCommand& command) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_responder) {
        const auto responder = m_responder;
        guard.unlock();
        return responder(command);
    }
    if (m_queue.empty()) return m_default;
    AoSBehaviour next = m_queue.front();
    m_queue.pop_front();
    return next;
}

void AoSMgrPeer::Handle(Connection& connection) {
    AoSCommand command;
    command.messageBytes = connection.messageBytes;
    const bool parsed = ParseAoSCommand(connection.bytes, command);
    if (parsed)
        command.decoded =
            DecodeAoSRequest(command.payload.data(), command.payload.size(), command.message, command.error);
    command.answer = NextBehaviour(command);
    const bool answerable = !command.replyPipe.empty();
    if (!answerable) command.answer = AoSBehaviour::Of(AoSBehaviour::kSilence);
    if (command.decoded && command.message.id == kRegisterId && command.answer.kind == AoSBehaviour::kStatus &&
        command.answer.status == 0)
        RegisterEntry(command.message);
    m_commands.Add(command);
    if (m_onCommand) {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        m_onCommand(command);
    }
    if (answerable) Answer(command);
}

void AoSMgrPeer::Answer(const AoSCommand& command) {
    const AoSBehaviour& b = command.answer;
    if (b.kind == AoSBehaviour::kSilence) return;
    OS::UniqueFile pipe;
    DWORD error = OpenPipeForWriting(command.replyPipe, pipe);
    if (error == 0) {
        const int id = command.message.id;
        std::vector<BYTE> reply;
        if (b.kind == AoSBehaviour::kStatus) reply = EncodeAoSReply(ReplyIdFor(id), b.status, b.errorText);
        if (b.kind == AoSBehaviour::kWrongId) reply = EncodeAoSReply(WrongReplyIdFor(id), b.status, b.errorText);
        if (b.kind == AoSBehaviour::kShort || b.kind == AoSBehaviour::kEndless) PutInt32(reply, ReplyIdFor(id));
        error = WriteMessages(pipe.get(), reply.data(), reply.size());
        if (error == 0 && b.kind == AoSBehaviour::kEndless) FloodMessages(pipe.get(), m_collector.StopEvent());
        if (b.kind == AoSBehaviour::kStall) WaitForSingleObject(m_collector.StopEvent(), kStallLimitMs);
    }
    if (error != 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_answerFailures;
    }
}

void AoSMgrPeer::RegisterEntry(const AoSRequestMessage& message) {
    int platform, language;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_registerEntries) return;
        platform = m_platform;
        language = m_language;
    }
    const std::wstring component =
        std::to_wstring(platform) + L"_" + std::to_wstring(language) + L"_" + message.plsVersion;
    const std::wstring path = std::wstring(kAoSRootKey) + L"\\" + message.plsId + L"\\" + component;
    OS::UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return;
    SetStringValue(key.get(), L"ID", message.plsId);
    SetStringValue(key.get(), L"Platform", std::to_wstring(platform));
    SetStringValue(key.get(), L"Language", std::to_wstring(language));
    SetStringValue(key.get(), L"Version", message.plsVersion);
}

AoSData SampleRegistration(AoSUIPage& page, const wchar_t* pageUrl) {
    page = AoSUIPage{L"Main Page", pageUrl};
    AoSData record = {};
    record.dwSize = 52;  // the size the manager expects from a 32-bit installer
    record.wpszPLSId = L"KPSE_ADDON_WDX";
    record.wpszPLSVersion = L"10.6.1045";
    record.wpszInstallPath = L"C:\\Quillon\\Addon\\WDX";
    record.wpszAuxText = L"";
    record.wpszPlugInPath = L"C:\\Quillon\\Addon\\WDX\\WDXPlugIn.dll";
    record.wpszUninstallPath = L"C:\\Quillon\\Addon\\WDX\\Uninstall.exe";
    record.iUIPageCount = 1;
    record.pUIPages = &page;
    return record;
}

}  // namespace peers
