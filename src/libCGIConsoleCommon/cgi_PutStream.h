// Output on the C runtime's standard output.
#pragma once
#include <cstddef>

namespace plm {

// Writes the bytes as they are (binary mode, no CR added), flushed, and puts
// standard output back into its previous mode.
void WriteStdoutBinary(const void* data, size_t cb);

}  // namespace plm
