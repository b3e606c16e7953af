#include "agent/WDXPatchAgent_Internal.h"

namespace {
HMODULE g_module = nullptr;
wchar_t PkgDestPath[MAX_PATH] = {};
std::vector<FileCopyEntry> FileCopyTable;
}  // namespace

void Agent_SetModule(HMODULE module) { g_module = module; }
HMODULE Agent_GetModule() { return g_module; }
const wchar_t* Agent_PkgDestPath() { return PkgDestPath; }
const std::vector<FileCopyEntry>& Agent_FileCopyTable() { return FileCopyTable; }

extern "C" {
int __cdecl StartAction(void) { return 1; }
int __cdecl StartItem(const char*, int, int, unsigned int, const ItemVersion*, const ItemVersion*) { return 1; }
int __cdecl CheckFileEx(const char*) { return -1; }
int __cdecl EndItem(int, const ItemVersion*, const ItemVersion*) { return 0; }
int __cdecl IsRollbackEx(void) { return 1; }
int __cdecl EndAction(void) { return 0; }
}
