// Internal operations of the patch agent, reachable by the DLL entry and the tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "installer/WDXPatchAgent.h"

// Module whose string table LoadResString reads; stored by DllMain.
void Agent_SetModule(HMODULE module);
HMODULE Agent_GetModule();

bool ChkKPSEVer();
int LoadResString(wchar_t* buffer);  // buffer holds 1024 characters
int Unregister();

struct FileCopyEntry {
    std::wstring source;
    std::wstring target;
};

// Read-only views of the agent's global state, for tests and diagnostics.
const wchar_t* Agent_PkgDestPath();
const std::vector<FileCopyEntry>& Agent_FileCopyTable();
