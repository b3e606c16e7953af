// The request's items as they came (still URL-encoded) and as decoded pairs.
#pragma once
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cgi_TempFiles.h"
#include "console/plm_Console.h"

namespace plm {

// Items still URL-encoded ("name=value"), in request order. They share one
// block of text, each ended by a zero byte: a body of a million one-byte items
// costs its own size, not a string object per item.
class CRawParamList {
public:
    void Reserve(size_t cbText) { m_text.reserve(cbText); }
    // Adds text up to its first zero byte; plusIsSpace reads "+" as a space.
    void Add(const char* text, size_t cbText, bool plusIsSpace = false);
    void Add(const std::string& item) { Add(item.data(), item.size()); }
    size_t Count() const { return m_count; }
    size_t ByteLength() const { return m_text.size() - m_count; }
    std::string LastItem() const;
    void AppendToLast(const std::string& text);

    // An item whose value is the path (or name) of the request's stored file
    // number `file`. A published item is one of the pairs the library itself
    // adds ("TempFileName", "BinaryDataBlock"); any other item of those names
    // came from the client.
    struct SStored {
        size_t item;
        size_t file;
        bool published;
    };
    void AddStored(const std::string& item, size_t file, bool published);
    // The last item becomes the published item of stored file `file`.
    void MarkLastStored(size_t file);

    // Visits every item as (text, length, stored or null) in order.
    template <typename Visit>
    void ForEach(Visit visit) const {
        size_t item = 0;
        auto stored = m_stored.begin();
        for (size_t pos = 0; pos < m_text.size(); ++item) {
            size_t cb = strlen(m_text.c_str() + pos);
            const bool isStored = stored != m_stored.end() && stored->item == item;
            visit(m_text.c_str() + pos, cb, isStored ? &*stored : nullptr);
            if (isStored) ++stored;
            pos += cb + 1;
        }
    }

private:
    std::string m_text;  // item, zero byte, item, zero byte, ...
    size_t m_count = 0;
    size_t m_lastStart = 0;
    std::vector<SStored> m_stored;  // ascending by item
};

// Names of the pairs that carry the library's stored files, compared
// ordinally (ASCII letters folded, whatever the locale).
bool IsPublishedName(const wchar_t* name);

// The parsed request. A pair's name or value is null when its bytes were not
// valid UTF-8; lookups and enumeration stop at a null name. The texts share
// one block, each pair costing two offsets besides its characters.
//
// The list owns the request's stored files (uploads, binary blocks) until the
// page receives a value that names one (a lookup, GetNextPara, an enumeration's
// callback, the HTML table): from then on that file is the page's. Files the
// page never received are deleted by DeleteUnclaimedFiles and by the destructor.
class CCgiParamList {
public:
    CCgiParamList() = default;
    ~CCgiParamList() { DeleteUnclaimedFiles(); }
    CCgiParamList(CCgiParamList&&) = default;  // the moved-from list owns no files
    CCgiParamList& operator=(const CCgiParamList&) = delete;

    int Status() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    bool HasPairArray() const { return m_hasPairArray; }
    size_t PairCount() const { return m_slots.size() / 2; }
    // Null when the bytes were not valid UTF-8; valid until the next Decode.
    const wchar_t* NameAt(size_t pair) const { return Text(m_slots[2 * pair]); }
    const wchar_t* ValueAt(size_t pair) const { return Text(m_slots[2 * pair + 1]); }
    std::optional<std::wstring> Name(size_t pair) const { return Copy(NameAt(pair)); }
    std::optional<std::wstring> Value(size_t pair) const { return Copy(ValueAt(pair)); }

    // Replaces any earlier pairs by the decoded items and returns how many
    // client items were dropped for carrying a published name. Stored items
    // refer to the files that the next AdoptFiles takes over.
    size_t Decode(const CRawParamList& raw);
    // Takes over the request's files (closed); when it throws (std::bad_alloc)
    // they are still the request's.
    void AdoptFiles(CRequestTempFiles& files);
    // Drops every pair and sets status; the unclaimed files are deleted.
    void Reset(int status);
    void DeleteUnclaimedFiles();

    const wchar_t* FindValue(const wchar_t* name) const;
    bool GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset);
    void ResetEnum() { m_cursor = 0; }
    void EnumParaCallBack(PARA_CALLBACK callback);
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback);
    // The same enumerations with any callable (the C interface passes its
    // caller's context along): visit(name, value) and visit(value). The walk
    // goes through the shared cursor, so pairs a callback takes with
    // GetNextPara are not visited again; its next pair lies past both the
    // cursor and its own index, so a callback that resets or moves the cursor
    // back cannot make it repeat or loop. The cursor is left where the walk ended.
    template <typename Visit>
    void EnumPairs(Visit visit) {
        ResetEnum();
        size_t pair = 0;
        while (IsWhole(pair)) {
            m_cursor = pair + 1;
            Claim(pair);
            visit(NameAt(pair), ValueAt(pair));
            pair = m_cursor > pair + 1 ? m_cursor : pair + 1;
        }
        m_cursor = pair;
    }
    template <typename Visit>
    void EnumSpecialPairs(const wchar_t* wanted, Visit visit) {
        ResetEnum();
        if (!wanted) return;
        const size_t cchWanted = wcslen(wanted);
        const bool reserved = IsPublishedName(wanted);
        size_t pair = 0;
        for (; IsWhole(pair); ++pair) {
            m_cursor = pair + 1;
            if (wcslen(NameAt(pair)) != cchWanted || !NameMatches(pair, wanted, reserved)) continue;
            Claim(pair);
            visit(ValueAt(pair));
        }
        m_cursor = pair;
    }
    std::string ParaTableHtml() const;

private:
    static constexpr size_t kNull = static_cast<size_t>(-1);
    const wchar_t* Text(size_t offset) const { return offset == kNull ? nullptr : m_texts.c_str() + offset; }
    static std::optional<std::wstring> Copy(const wchar_t* text) {
        return text ? std::optional<std::wstring>(text) : std::nullopt;
    }
    void AddText(const char* utf8, size_t cb, std::string& scratch);
    // The page receives pair's value.
    void Claim(size_t pair) const;
    bool NameMatches(size_t pair, const wchar_t* wanted, bool reserved) const;
    // Next pair at the cursor without handing it to the page.
    bool NextPair(const wchar_t*& name, const wchar_t*& value);
    // The pair exists and has both a name and a value: enumeration goes on.
    bool IsWhole(size_t pair) const { return pair < PairCount() && NameAt(pair) && ValueAt(pair); }

    struct SStoredFile {
        std::wstring path;
        mutable bool claimed;
    };

    int m_status = CGI_OK;
    bool m_hasPairArray = false;
    std::wstring m_texts;         // every name and value, each ended by a zero unit
    std::vector<size_t> m_slots;  // name0, value0, name1, value1, ...: offsets into m_texts or kNull
    size_t m_cursor = 0;          // index of the next pair
    std::vector<SStoredFile> m_files;
    std::vector<std::pair<size_t, size_t>> m_filePairs;  // (pair, index into m_files), ascending by pair
    std::vector<size_t> m_publishedPairs;  // the library's own TempFileName/BinaryDataBlock pairs, ascending
};

// The process-wide list; null until the first CGetParameter built it.
CCgiParamList* ProcessParamList();

// In place; returns the new length. A "%" without two following characters stays.
size_t UrlDecode(char* text, size_t cbText);

}  // namespace plm
