// The console header the sample pages are built against: the exported classes
// (plm_Console.h), or with WDX_PAGES_ON_C_INTERFACE the header-only layer over
// the C interface (plm_ConsoleCpp.h), which declares the same classes. The
// pages are built both ways from the same sources.
#pragma once
#if defined(WDX_PAGES_ON_C_INTERFACE)
#include "console/plm_ConsoleCpp.h"
#else
#include "console/plm_Console.h"
#endif
