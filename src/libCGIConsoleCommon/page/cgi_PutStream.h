// The library's one way to standard output: the header, the stream classes and
// the C interface all write through the C runtime's stdout (msvcrt's), which a
// page built with this toolchain shares, so their bytes and the page's own
// printf output leave in the order they were written.
#pragma once
#include <cstddef>
#include <string>

namespace plm {

// UTF-8 text in the stream's mode (text mode, the default: each LF leaves as CR LF).
bool OutputText(const std::string& utf8);
// What the stream holds, then the bytes as they are (binary mode for the write,
// the earlier mode restored), flushed. The response header goes this way too.
bool OutputBinary(const void* data, size_t cb);
// Writes out what the stream holds; false when standard output refused bytes.
bool FlushOutput();

}  // namespace plm
