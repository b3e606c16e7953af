#!/usr/bin/env python3
"""Checks a built WDXPatchAgent.dll without running it.

Every import, ordinary and delay-loaded, must name a function that the system
DLL of the same bitness exports, and every import slot must hold something a
call can land on: an ordinary slot the RVA of its name entry, a delay-load slot
the address of a thunk inside the image's code that loads exactly that slot.
On i386 the installer callbacks must also leave the stack to their caller
(cdecl): no `ret N` in their code.

    check_pe_imports.py DLL DEBUG_FILE SYSTEM_DLL_FOLDER OBJDUMP

The delay-load descriptors are found through the symbols of DEBUG_FILE (the DLL
ships stripped, and the linker does not fill the delay-import directory).
"""
import os
import re
import struct
import subprocess
import sys

CALLBACKS = ("StartAction", "StartItem", "CheckFileEx", "EndItem", "IsRollbackEx", "EndAction")


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, nsections, _, self.symtab, self.nsyms, optsize, _) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        self.pe32plus = magic == 0x20B
        self.ptr = 8 if self.pe32plus else 4
        self.base = struct.unpack_from("<Q" if self.pe32plus else "<I", d, opt + (24 if self.pe32plus else 28))[0]
        self.size = struct.unpack_from("<I", d, opt + 56)[0]
        ndirs_at = opt + (108 if self.pe32plus else 92)
        ndirs = struct.unpack_from("<I", d, ndirs_at)[0]
        self.dirs = [struct.unpack_from("<II", d, ndirs_at + 4 + 8 * i) for i in range(ndirs)]
        self.sections = []
        at = opt + optsize
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, at + 40 * i)
            chars = struct.unpack_from("<I", d, at + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, rawsize), rawptr, rawsize, chars))

    def section_of(self, rva):
        for s in self.sections:
            if s[1] <= rva < s[1] + s[2]:
                return s
        return None

    def offset(self, rva):
        s = self.section_of(rva)
        if s is None or rva - s[1] >= s[4]:
            raise ValueError(f"RVA {rva:#x} has no file data")
        return s[3] + rva - s[1]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def uptr(self, rva):
        return struct.unpack_from("<Q" if self.pe32plus else "<I", self.data, self.offset(rva))[0]

    def cstr(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):
        """Name -> RVA of each exported name."""
        rva, size = self.dirs[0]
        if rva == 0:
            return {}
        nnames, functions, names, ordinals = struct.unpack_from("<IIII", self.data, self.offset(rva) + 24)
        result = {}
        for i in range(nnames):
            index = struct.unpack_from("<H", self.data, self.offset(ordinals + 2 * i))[0]
            result[self.cstr(self.u32(names + 4 * i))] = self.u32(functions + 4 * index)
        return result

    def imports(self):
        """(dll, [(name or ordinal, slot rva)]) for each ordinary import descriptor."""
        rva = self.dirs[1][0]
        result = []
        while rva:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if name == 0:
                break
            result.append((self.cstr(name), self.thunks(ilt or iat, iat)))
            rva += 20
        return result

    def thunks(self, names_rva, slots_rva):
        entries = []
        ordinal_flag = 1 << (8 * self.ptr - 1)
        while True:
            entry = self.uptr(names_rva)
            if entry == 0:
                return entries
            what = f"#{entry & 0xFFFF}" if entry & ordinal_flag else self.cstr(entry + 2)
            entries.append((what, slots_rva))
            names_rva += self.ptr
            slots_rva += self.ptr

    def symbols(self):
        """Name -> RVA of the COFF symbols that lie in a section."""
        d = self.data
        strings = self.symtab + 18 * self.nsyms
        result = {}
        i = 0
        while i < self.nsyms:
            at = self.symtab + 18 * i
            raw, value, section, _, _, naux = struct.unpack_from("<8sIhHBB", d, at)
            if raw[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", raw, 4)[0]
                name = d[start:d.index(b"\0", start)].decode("ascii", "replace")
            else:
                name = raw.rstrip(b"\0").decode("ascii", "replace")
            if 0 < section <= len(self.sections):
                result[name] = self.sections[section - 1][1] + value
            i += 1 + naux
        return result


def main():
    dll_path, debug_path, system_dir, objdump = sys.argv[1:5]
    dll = Image(dll_path)
    debug = Image(debug_path)
    symbols = debug.symbols()
    problems = []
    export_cache = {}

    def system_exports(name):
        key = name.lower()
        if key not in export_cache:
            path = os.path.join(system_dir, key)
            export_cache[key] = Image(path).exports() if os.path.exists(path) else None
        return export_cache[key]

    def check_name(dll_name, what):
        exported = system_exports(dll_name)
        if exported is None:
            problems.append(f"{dll_name}: no such system DLL in {system_dir}")
        elif not what.startswith("#") and what not in exported:
            problems.append(f"{dll_name}!{what}: not exported by the system DLL")

    def is_code(rva):
        s = dll.section_of(rva)
        return s is not None and s[5] & 0x20000000  # IMAGE_SCN_MEM_EXECUTE

    count = 0
    for dll_name, entries in dll.imports():
        for what, slot in entries:
            count += 1
            check_name(dll_name, what)
            value = dll.uptr(slot)
            if not what.startswith("#") and (value == 0 or value >= dll.size):
                problems.append(f"{dll_name}!{what}: import slot holds {value:#x}")

    descriptors = [rva for name, rva in symbols.items() if name.lstrip("_").startswith("DELAY_IMPORT_DESCRIPTOR")]
    if not descriptors:
        problems.append("no delay-load descriptor found")
    delayed = set()
    for rva in descriptors:
        attrs, name_rva, _, iat, int_rva = struct.unpack_from("<IIIII", dll.data, dll.offset(rva))
        if attrs != 1:
            problems.append(f"delay-load descriptor at {rva:#x} does not use RVAs")
            continue
        dll_name = dll.cstr(name_rva)
        delayed.add(dll_name.lower())
        for what, slot in dll.thunks(int_rva, iat):
            count += 1
            check_name(dll_name, what)
            target = dll.uptr(slot) - dll.base
            if not (0 < target < dll.size) or not is_code(target):
                problems.append(f"{dll_name}!{what} (delay-loaded): slot holds {dll.uptr(slot):#x}, not a thunk in the image's code")
                continue
            # The thunk hands the delay-load helper the address of its own slot.
            code = dll.data[dll.offset(target):dll.offset(target) + 7]
            if dll.pe32plus:
                loads = code[:3] == b"\x48\x8d\x05" and target + 7 + struct.unpack_from("<i", code, 3)[0] == slot
            else:
                loads = code[0] == 0xB8 and struct.unpack_from("<I", code, 1)[0] == dll.base + slot
            if not loads:
                problems.append(f"{dll_name}!{what} (delay-loaded): the code at its slot's target does not load that slot")

    if not dll.pe32plus:
        exports = dll.exports()
        starts = sorted(set(symbols.values()))
        for name in CALLBACKS:
            start = exports.get(name)
            if start is None:
                problems.append(f"export {name} is missing")
                continue
            end = next((s for s in starts if s > start), start + 0x1000)
            listing = subprocess.run([objdump, "-d", f"--start-address={dll.base + start:#x}",
                                      f"--stop-address={dll.base + end:#x}", dll_path],
                                     capture_output=True, text=True, check=True).stdout
            if "ret" not in listing:
                problems.append(f"{name}: no return found in its code")
            elif re.search(r"\bret[lw]?\s+\$0x", listing):
                problems.append(f"{name}: pops its arguments (ret N), the installer expects cdecl")

    for problem in problems:
        print(problem)
    print(f"{count} imports checked against {system_dir}; delay-loaded: {', '.join(sorted(delayed))}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
