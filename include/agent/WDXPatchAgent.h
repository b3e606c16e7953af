/* Installer-host interface of WDXPatchAgent.dll: six cdecl callbacks exported by
 * name. The host owns every record and string it passes. */
#ifndef WDXPATCHAGENT_H
#define WDXPATCHAGENT_H

#ifdef __cplusplus
extern "C" {
#endif

/* An item's version: major in the high 16 bits of version, minor in the low 16
 * bits; ordered by (version, build), both unsigned. */
typedef struct ItemVersion {
    unsigned int version;
    unsigned int build;
} ItemVersion;

/* 0: add-on folder ready; 1: server refused or folder not created. */
int __cdecl StartAction(void);
/* Always 1; the arguments are only traced. */
int __cdecl StartItem(const char* zipName, int itemClass, int itemType, unsigned int option, const ItemVersion* from,
                      const ItemVersion* to);
/* 1: file recorded for copying; -1: path rejected. Paths are in the ANSI code page. */
int __cdecl CheckFileEx(const char* path);
/* Install (to > from): 1 when every file is placed and the add-on registered, else 0.
 * Rollback (to <= from): deletes the add-on folder and returns 1. */
int __cdecl EndItem(int update, const ItemVersion* from, const ItemVersion* to);
/* Always 1. */
int __cdecl IsRollbackEx(void);
/* Always 0. */
int __cdecl EndAction(void);

typedef int(__cdecl* PFN_StartAction)(void);
typedef int(__cdecl* PFN_StartItem)(const char*, int, int, unsigned int, const ItemVersion*, const ItemVersion*);
typedef int(__cdecl* PFN_CheckFileEx)(const char*);
typedef int(__cdecl* PFN_EndItem)(int, const ItemVersion*, const ItemVersion*);
typedef int(__cdecl* PFN_IsRollbackEx)(void);
typedef int(__cdecl* PFN_EndAction)(void);

#ifdef __cplusplus
}
#endif
#endif
