// Benchmark baseline: the minimal page with the console library loaded (linked
// through its import library) but nothing of it called, for the cost of the load.
#include "PageSupport.h"
#include "ConsoleApi.h"

int main() {
    // Taking the address keeps the import, so the library loads at start.
    int (plm::CConsoleCommon::*volatile keep)() const = &plm::CConsoleCommon::GetErrorCode;
    (void)keep;
    page::WriteRaw("Content-type: text/plain;charset=utf-8\r\n\r\nminimal\n");
    return 0;
}
