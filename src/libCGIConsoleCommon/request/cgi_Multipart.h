// Multipart request bodies: form fields and file uploads.
#pragma once
#include <cstddef>
#include <string>

#include "cgi_ParamParser.h"

namespace plm {

// Uploads beyond this many file parts in one request end parsing with 3902.
const size_t kMaxFileParts = 256;

// Multipart body: returns the status; raw receives the items and files the
// uploads, which the caller keeps only on success.
int ParseMultipart(const SCgiRequest& request, ICgiInput& input, const SCgiLimits& limits, CRawParamList& raw,
                   CRequestTempFiles& files);
// Text of a part header or value as UTF-8: taken as is when it is valid UTF-8,
// else read in the ANSI code page.
std::string MultipartTextToUtf8(const std::string& text);
// Writes every byte that Decode would split at or decode as "%XX".
std::string EscapeMultipartText(const std::string& text);
// Boundary parameter of a multipart content type; empty when there is none.
std::string MultipartBoundary(const std::string& contentType);

}  // namespace plm
