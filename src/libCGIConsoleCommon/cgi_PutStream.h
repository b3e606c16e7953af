// The library's one way to standard output: the header, the stream classes and
// the C interface all write through one buffer of the library's own, which goes
// to the standard output handle with WriteFile. No C runtime's stdout buffer is
// involved, so programs on any runtime see the library's output in the order
// they wrote it.
#pragma once
#include <cstddef>
#include <string>

namespace plm {

// Buffered as they are (no CR added): the response header.
bool OutputBytes(const void* data, size_t cb);
// Buffered UTF-8 text whose LFs leave as CR LF, as the C runtime's text mode
// wrote the stream's text before.
bool OutputText(const std::string& utf8);
// What is buffered, then the bytes as they are, unbuffered.
bool OutputBinary(const void* data, size_t cb);
// Writes out what is buffered; false when standard output refused bytes (what
// could not be written is dropped, so one broken pipe costs one failure).
bool FlushOutput();

}  // namespace plm
