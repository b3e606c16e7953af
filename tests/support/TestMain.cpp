#include <gtest/gtest.h>

#include "diag/logcl_Command.h"

// The test programs link the layers without the DLL, so they route the trace
// channels to the log server themselves, as the DLL does when it loads.
int main(int argc, char** argv) {
    InstallLogClients();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
