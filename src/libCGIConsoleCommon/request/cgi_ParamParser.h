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

#include "cgi_ParamList.h"
#include "cgi_TempFiles.h"

namespace plm {

// The four CGI variables; an absent variable is nullopt.
struct SCgiRequest {
    std::optional<std::string> method;
    std::optional<std::string> queryString;
    std::optional<std::string> contentType;
    std::optional<std::string> contentLength;
};

struct SCgiLimits {
    int maxPostSizeK = 5120;     // URL-encoded bodies above this many KB are not read
    int maxUploadSizeM = 64;     // multipart bodies above this many MB are refused (3902)
    std::wstring serverFolder;   // ends with a backslash; holds "Temp" and "TEMP"; empty: no files
    SUploadBudget uploadBudget;  // the server-wide bound of upload files in TEMP
    // Creates the request's temporary files; null: CreateFileW (write and
    // delete access, not shared, temporary attribute). Lets tests make the
    // creation or the writes fail.
    CreateTempFileFn openPartFile = nullptr;
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

// Parses one request into list, which takes over the stored files. Client
// items named TempFileName or BinaryDataBlock are dropped. Out of memory (or
// any standard exception, such as a length_error for a size this process
// cannot hold) gives 3902 and no pairs: nothing is thrown.
void ParseRequest(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CCgiParamList& list);

// Body length: a plain non-negative decimal number, anything else counts as 0;
// values too large for 64 bits saturate.
uint64_t ParseContentLength(const std::optional<std::string>& text);
// Splits text (up to its first zero byte) into raw items, "+" read as a space.
void Collect(const char* text, size_t cbText, CRawParamList& raw);

}  // namespace plm
