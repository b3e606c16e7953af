#!/usr/bin/env python3
"""Checks console pages built in MSVC mode without running them (the i686 ones
on machines that run no 32-bit programs):
  check_msvc_pages.py DLL SYSTEM_DLL_FOLDER PAGE...
- each page is a console program of the DLL's bitness with an entry point;
- it imports from WDXPatchAgent.dll and kernel32.dll only (no C runtime), by name;
- every WDXPatchAgent.dll import is a function of the C interface that DLL
  exports, and every kernel32 import one that Wine's kernel32 of that bitness
  exports; each import slot holds its name entry."""
import os, struct, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_pe_imports import Image  # noqa: E402


def main():
    dll_path, system_dir, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    dll = Image(dll_path)
    exported = {"wdxpatchagent.dll": dll.exports(),
                "kernel32.dll": Image(os.path.join(system_dir, "kernel32.dll")).exports()}
    problems, count = [], 0
    for path in pages:
        page, name = Image(path), os.path.basename(path)
        pe = struct.unpack_from("<I", page.data, 0x3C)[0]
        opt = pe + 24
        if page.wide != dll.wide:
            problems.append(f"{name}: not of the DLL's bitness")
        if struct.unpack_from("<I", page.data, opt + 16)[0] == 0:
            problems.append(f"{name}: no entry point")
        if struct.unpack_from("<H", page.data, opt + 68)[0] != 3:  # IMAGE_SUBSYSTEM_WINDOWS_CUI
            problems.append(f"{name}: not a console program")
        for dll_name, entries in page.imports():
            table = exported.get(dll_name.lower())
            if table is None:
                problems.append(f"{name}: imports from {dll_name}")
                continue
            for what, slot in entries:
                count += 1
                if what.startswith("#"):
                    problems.append(f"{name}: {dll_name} ordinal {what}, not a name")
                elif what not in table:
                    problems.append(f"{name}: {dll_name}!{what} is not exported")
                elif dll_name.lower() == "wdxpatchagent.dll" and not what.startswith("plm_"):
                    problems.append(f"{name}: {what} is not a function of the C interface")
                elif not 0 < page.uptr(slot) < page.size:
                    problems.append(f"{name}: {dll_name}!{what}: import slot holds {page.uptr(slot):#x}")
    print("\n".join(problems + [f"{len(pages)} pages, {count} imports checked against {dll_path} and {system_dir}"]))
    return 1 if problems or not pages else 0


if __name__ == "__main__":
    sys.exit(main())
