// The request parser behind plm::CGetParameter. It is a function of the CGI
// variables, an input stream and the server's limits, so that it can run many
// times in one process; the process-wide list (cgi_GetParameter.cpp) feeds it
// the real environment and standard input.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/plm_Console.h"

namespace plm {

// The four CGI variables; an absent variable is nullopt.
struct SCgiRequest {
    std::optional<std::string> method;
    std::optional<std::string> queryString;
    std::optional<std::string> contentType;
    std::optional<std::string> contentLength;
};

struct SCgiLimits {
    int maxPostSizeK = 5120;    // URL-encoded bodies above this many KB are not read
    int maxUploadSizeM = 64;    // multipart bodies above this many MB are refused (3902)
    std::wstring serverFolder;  // ends with a backslash; holds "Temp" and "TEMP"
    // Opens an upload's temporary file; null: CreateFileW (read/write, not
    // shared, temporary attribute). Lets tests make the open fail.
    HANDLE (*openPartFile)(const wchar_t* path) = nullptr;
};

// The request body. Read returns the bytes delivered (fewer than asked is
// allowed), 0 at end of input or on a read error.
class ICgiInput {
public:
    virtual bool SwitchToBinary() = 0;
    virtual size_t Read(void* buffer, size_t cbBuffer) = 0;

protected:
    ~ICgiInput() = default;
};

// Standard input of the C runtime.
class CStdinInput : public ICgiInput {
public:
    bool SwitchToBinary() override;
    size_t Read(void* buffer, size_t cbBuffer) override;
};

// Items still URL-encoded ("name=value"), in request order.
class CRawParamList {
public:
    void Add(std::string item);
    size_t Count() const { return m_items.size(); }
    size_t ByteLength() const { return m_cbTotal; }
    std::string& Last() { return m_items.back(); }
    const std::vector<std::string>& Items() const { return m_items; }

private:
    std::vector<std::string> m_items;  // grows geometrically: large bodies stay linear
    size_t m_cbTotal = 0;
};

// The parsed request. A pair's name or value is nullopt when its bytes were
// not valid UTF-8; lookups and enumeration stop at a null name.
class CCgiParamList {
public:
    int Status() const { return m_status; }
    void SetStatus(int status) { m_status = status; }
    bool HasPairArray() const { return m_hasPairArray; }
    size_t PairCount() const { return m_slots.size() / 2; }
    const std::optional<std::wstring>& Name(size_t pair) const { return m_slots[2 * pair]; }
    const std::optional<std::wstring>& Value(size_t pair) const { return m_slots[2 * pair + 1]; }

    // Replaces any earlier pairs by the decoded items.
    void Decode(CRawParamList& raw);

    const std::wstring* FindValue(const wchar_t* name) const;
    bool GetNextPara(const wchar_t*& name, const wchar_t*& value, bool reset);
    void ResetEnum() { m_cursor = 0; }
    void EnumParaCallBack(PARA_CALLBACK callback);
    void EnumSpecialParaCallBack(const wchar_t* name, SPECIAL_PARA_CALLBACK callback);
    std::string ParaTableHtml() const;

private:
    int m_status = CGI_OK;
    bool m_hasPairArray = false;
    std::vector<std::optional<std::wstring>> m_slots;  // name0, value0, name1, value1, ...
    size_t m_cursor = 0;                               // index of the next pair
};

// Parses one request into list.
void ParseRequest(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list);

// Body length: a plain non-negative decimal number, anything else counts as 0;
// values too large for 64 bits saturate.
uint64_t ParseContentLength(const std::optional<std::string>& text);
// Splits text (up to its first zero byte) into raw items, "+" read as a space.
void Collect(const char* text, size_t cbText, CRawParamList& raw);
// In place; returns the new length. A "%" without two following characters stays.
size_t UrlDecode(char* text, size_t cbText);

// Multipart body (cgi_Multipart.cpp): returns the status; raw receives the items.
int ParseMultipart(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw);
// Text of a part header or value as UTF-8: taken as is when it is valid UTF-8,
// else read in the ANSI code page.
std::string MultipartTextToUtf8(const std::string& text);
// Writes every byte that Decode would split at or decode as "%XX".
std::string EscapeMultipartText(const std::string& text);
// Boundary parameter of a multipart content type; empty when there is none.
std::string MultipartBoundary(const std::string& contentType);

// Limit of URL-encoded bodies from the server's private settings, read once per process.
int GetMaxPostSizeK();
// The same without the process-wide hold (tests).
bool ReadMaxPostSizeK(int& valueK);

}  // namespace plm
