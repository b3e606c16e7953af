// The request's items and pairs: the raw items, their decoding into UTF-16
// pairs, lookups and enumeration, and the HTML table of diagnostic pages.
#include "cgi_ParamList.h"

#include <algorithm>
#include <cwchar>

#include "cgi_PrivateFiles.h"
#include "cgi_Utf8.h"

namespace plm {
namespace {

// Token of text starting at pos, strtok style: leading delimiters skipped, the
// token ends at the next delimiter or the end. pos moves past the terminator.
bool NextToken(const char* text, size_t size, size_t& pos, const char* delims, size_t& begin, size_t& end) {
    while (pos < size && strchr(delims, text[pos])) ++pos;
    if (pos >= size) return false;
    begin = pos;
    while (pos < size && !strchr(delims, text[pos])) ++pos;
    end = pos;
    if (pos < size) ++pos;
    return true;
}

// Value of a character read as a hexadecimal digit; any character gives some
// value (no validation), kept in unsigned arithmetic so that none is undefined.
unsigned HexDigit(unsigned char c) { return c <= 0x40 ? c - 0x30u : (c & ~0x20u) - 55u; }

const char kHeaderRow[] =
    "<tr><td width=\"40%\"><b><font size=\"2\" face=\"Arial\" color=\"#FF0000\">Name</font></b></td>"
    "<td width=\"60%\"><b><font size=\"2\" face=\"Arial\" color=\"#FF0000\">Value</font></b></td></tr>\n";
const char kNameCell[] = "<tr><td width=\"40%\"><b><font size=\"2\" face=\"Arial\">";
const char kValueCell[] = "</font></b></td><td width=\"60%\"><b><font size=\"2\" face=\"Arial\">";
const char kRowEnd[] = "</font></b></td></tr>\n";

// Request text is hostile: it must not become markup of the page.
void AppendEscaped(std::string& html, const wchar_t* text) {
    for (char c : WideToUtf8(text, wcslen(text))) {
        switch (c) {
        case '&':
            html += "&amp;";
            break;
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '"':
            html += "&quot;";
            break;
        case '\'':
            html += "&#39;";
            break;
        default:
            html += c;
        }
    }
}

}  // namespace

void CRawParamList::Add(const char* text, size_t cbText, bool plusIsSpace) {
    cbText = strnlen(text, cbText);
    if (cbText == 0) return;
    m_lastStart = m_text.size();
    m_text.append(text, cbText);
    if (plusIsSpace) std::replace(m_text.begin() + static_cast<ptrdiff_t>(m_lastStart), m_text.end(), '+', ' ');
    m_text += '\0';
    ++m_count;
}

void CRawParamList::AddStored(const std::string& item, size_t file, bool published) {
    const size_t count = m_count;
    Add(item);
    if (m_count != count) m_stored.push_back(SStored{m_count - 1, file, published});
}

void CRawParamList::MarkLastStored(size_t file) {
    if (m_count == 0) return;
    if (!m_stored.empty() && m_stored.back().item == m_count - 1) m_stored.pop_back();
    m_stored.push_back(SStored{m_count - 1, file, true});
}

namespace {
// Ordinal, folding ASCII letters only: the same answer in every locale, and
// no other character may stand for one of them.
bool AsciiEqualNoCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wchar_t ca = *a, cb = *b;
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<wchar_t>(ca + (L'a' - L'A'));
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<wchar_t>(cb + (L'a' - L'A'));
        if (ca != cb) return false;
        if (ca == L'\0') return true;
    }
}
}  // namespace

bool IsPublishedName(const wchar_t* name) {
    return name && (AsciiEqualNoCase(name, L"TempFileName") || AsciiEqualNoCase(name, L"BinaryDataBlock"));
}

std::string CRawParamList::LastItem() const {
    return m_count ? std::string(m_text.c_str() + m_lastStart) : std::string();
}

void CRawParamList::AppendToLast(const std::string& text) {
    if (m_count == 0) return;
    m_text.pop_back();
    m_text.append(text.c_str(), strnlen(text.c_str(), text.size()));
    m_text += '\0';
}

size_t UrlDecode(char* text, size_t cbText) {
    size_t out = 0;
    for (size_t in = 0; in < cbText; ++out) {
        if (text[in] == '%' && in + 2 < cbText) {
            unsigned hi = HexDigit(static_cast<unsigned char>(text[in + 1]));
            unsigned lo = HexDigit(static_cast<unsigned char>(text[in + 2]));
            text[out] = static_cast<char>(static_cast<unsigned char>((hi << 4) + lo));
            in += 3;
        } else {
            text[out] = text[in++];
        }
    }
    return out;
}

// Percent-decodes a field and appends it as UTF-16 with its terminator; the
// slot is kNull when the bytes are not convertible. scratch is the caller's,
// reused from field to field so that a pair costs no allocation.
void CCgiParamList::AddText(const char* field, size_t cbField, std::string& scratch) {
    scratch.assign(field, cbField);
    size_t cb = UrlDecode(&scratch[0], scratch.size());
    cb = strnlen(scratch.c_str(), cb);  // a decoded zero byte ends the text
    const size_t at = m_texts.size();
    if (!AppendUtf8AsWide(scratch.data(), cb, m_texts)) {
        m_slots.push_back(kNull);
        return;
    }
    m_slots.push_back(at);
    m_texts += L'\0';
}

size_t CCgiParamList::Decode(const CRawParamList& raw) {
    m_slots.clear();
    m_texts.clear();
    m_filePairs.clear();
    m_publishedPairs.clear();
    m_slots.reserve(2 * raw.Count());
    // Decoded text is never longer than its bytes; each pair adds at most one
    // terminator more than its item had.
    m_texts.reserve(raw.ByteLength() + 2 * raw.Count());
    m_hasPairArray = true;
    m_cursor = 0;
    size_t dropped = 0;
    const size_t firstFile = m_files.size();
    std::string scratch;
    raw.ForEach([&](const char* item, size_t cbItem, const CRawParamList::SStored* stored) {
        size_t pos = 0, begin = 0, end = 0;
        if (!NextToken(item, cbItem, pos, ": =\"", begin, end)) return;
        const size_t cchTexts = m_texts.size();
        AddText(item + begin, end - begin, scratch);
        // Decoded, as the page would look it up: no spelling of the client's
        // may pass for the library's own pair.
        if (!(stored && stored->published) && IsPublishedName(Text(m_slots.back()))) {
            m_slots.pop_back();
            m_texts.resize(cchTexts);
            ++dropped;
            return;
        }
        if (NextToken(item, cbItem, pos, "\"\r\n", begin, end)) {
            AddText(item + begin, end - begin, scratch);
        } else {
            m_slots.push_back(m_texts.size());
            m_texts += L'\0';
        }
        if (!stored) return;
        m_filePairs.emplace_back(PairCount() - 1, firstFile + stored->file);
        if (stored->published) m_publishedPairs.push_back(PairCount() - 1);
    });
    return dropped;
}

void CCgiParamList::AdoptFiles(CRequestTempFiles& files) {
    m_files.reserve(m_files.size() + files.Count());
    files.HandOver([this](std::wstring&& path) { m_files.push_back(SStoredFile{std::move(path), false}); });
}

void CCgiParamList::Reset(int status) {
    std::vector<size_t>().swap(m_slots);
    std::wstring().swap(m_texts);
    m_filePairs.clear();
    m_publishedPairs.clear();
    m_hasPairArray = false;
    m_cursor = 0;
    m_status = status;
    DeleteUnclaimedFiles();
}

void CCgiParamList::DeleteUnclaimedFiles() {
    for (SStoredFile& file : m_files) {
        if (!file.claimed) {
            // Opened as itself: what took the name since is judged, not followed.
            BY_HANDLE_FILE_INFORMATION info;
            OS::UniqueFile handle = OpenPlainFile(file.path, DELETE | FILE_READ_ATTRIBUTES, &info);
            if (handle) DeleteThroughHandle(handle.get());
        }
        file.claimed = true;  // gone or the page's: never deleted twice
    }
}

void CCgiParamList::Claim(size_t pair) const {
    auto at = std::lower_bound(m_filePairs.begin(), m_filePairs.end(), std::make_pair(pair, size_t(0)));
    for (; at != m_filePairs.end() && at->first == pair; ++at) m_files[at->second].claimed = true;
}

// The library's own names match only the library's own pairs, ordinally.
bool CCgiParamList::NameMatches(size_t pair, const wchar_t* wanted, bool reserved) const {
    if (!reserved) return _wcsicmp(NameAt(pair), wanted) == 0;
    return std::binary_search(m_publishedPairs.begin(), m_publishedPairs.end(), pair) &&
           AsciiEqualNoCase(NameAt(pair), wanted);
}

const wchar_t* CCgiParamList::FindValue(const wchar_t* name) const {
    if (!name) return nullptr;
    const bool reserved = IsPublishedName(name);
    for (size_t i = 0; i < PairCount() && NameAt(i); ++i) {
        if (NameMatches(i, name, reserved)) {
            Claim(i);
            return ValueAt(i);
        }
    }
    return nullptr;
}

bool CCgiParamList::GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset) {
    if (reset) ResetEnum();
    if (!NextPair(name, value)) return false;
    Claim(m_cursor - 1);
    return true;
}

bool CCgiParamList::NextPair(const wchar_t*& name, const wchar_t*& value) {
    if (IsWhole(m_cursor)) {
        name = NameAt(m_cursor);
        value = ValueAt(m_cursor);
        ++m_cursor;
        return true;
    }
    value = nullptr;
    return false;
}

// Without a callback the cursor goes back to the first pair and nothing is
// handed to the page, so no file becomes its own.
void CCgiParamList::EnumParaCallBack(PARA_CALLBACK callback) {
    if (!callback) {
        ResetEnum();
        return;
    }
    EnumPairs([callback](const wchar_t* name, const wchar_t* value) { callback(name, value); });
}

void CCgiParamList::EnumSpecialParaCallBack(const wchar_t* wanted, SPECIAL_PARA_CALLBACK callback) {
    if (!callback) {
        ResetEnum();
        return;
    }
    EnumSpecialPairs(wanted, [callback](const wchar_t* value) { callback(value); });
}

std::string CCgiParamList::ParaTableHtml() const {
    std::string html;
    if (!m_hasPairArray) return html;
    html += "<table border=\"1\" width=\"40%\">\n";
    html += kHeaderRow;
    for (size_t i = 0; i < PairCount() && NameAt(i) && ValueAt(i); ++i) {
        Claim(i);
        html += kNameCell;
        AppendEscaped(html, NameAt(i));
        html += kValueCell;
        AppendEscaped(html, ValueAt(i));
        html += kRowEnd;
    }
    html += "</table>\n";
    return html;
}

}  // namespace plm
