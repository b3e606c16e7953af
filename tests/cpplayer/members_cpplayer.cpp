// The member list against the header-only layer (see ConsoleMembers.h); clang
// compiles this file too (the build step cpplayer_clang).
#include "console/plm_ConsoleCpp.h"
#include "ConsoleMembers.h"
