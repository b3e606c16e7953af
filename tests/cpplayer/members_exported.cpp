// The member list against the DLL's exported classes (see ConsoleMembers.h).
#include "console/plm_Console.h"
#include "ConsoleMembers.h"
