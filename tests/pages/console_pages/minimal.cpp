// Benchmark baseline: a CGI program that writes a header and one line.
#include "PageSupport.h"

int main() {
    page::WriteRaw("Content-type: text/plain;charset=utf-8\r\n\r\nminimal\n");
    return 0;
}
