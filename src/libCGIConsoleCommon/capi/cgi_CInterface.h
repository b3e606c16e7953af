// The C interface of the console library: the functions of console/plm_ConsoleC.h,
// exported from the DLL by their plain names.
#pragma once
#include <cstddef>

#include "console/plm_ConsoleC.h"

namespace plm {

// Handles and texts handed out and not yet released (the tests' leak check).
size_t LiveCInterfaceHandles();

}  // namespace plm
