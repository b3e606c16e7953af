#!/usr/bin/env python3
"""Checks a built WDXPatchAgent.dll without running it:
  check_pe_imports.py DLL DEBUG_FILE SYSTEM_DLL_FOLDER OBJDUMP
- every import, ordinary and delay-loaded, is exported by the system DLL of the
  same bitness in SYSTEM_DLL_FOLDER;
- an ordinary import slot holds its name entry, a delay-load slot the address of
  a thunk in the DLL's code that loads exactly that slot;
- on i386 every C export (installer callbacks, the console's C interface) is
  cdecl (no `ret N`).
The delay-load descriptors are found through DEBUG_FILE's symbols: the DLL ships
stripped and the linker leaves the delay-import directory empty."""
import os, re, struct, subprocess, sys

CALLBACKS = ("StartAction", "StartItem", "CheckFileEx", "EndItem", "IsRollbackEx", "EndAction")


class Image:
    def __init__(self, path):
        self.data = d = open(path, "rb").read()
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[:2] != b"MZ" or d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: not a PE file")
        _, nsections, _, self.symtab, self.nsyms, optsize, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.wide = struct.unpack_from("<H", d, opt)[0] == 0x20B  # PE32+
        self.ptr = "<Q" if self.wide else "<I"
        self.base = struct.unpack_from(self.ptr, d, opt + (24 if self.wide else 28))[0]
        self.size = struct.unpack_from("<I", d, opt + 56)[0]
        dirs = opt + (112 if self.wide else 96)
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(2)]
        self.sections = [struct.unpack_from("<8xIIII12xI", d, opt + optsize + 40 * i) for i in range(nsections)]

    def section_of(self, rva):  # (virtual size, address, raw size, raw offset, flags)
        return next((s for s in self.sections if s[1] <= rva < s[1] + max(s[0], s[2])), None)

    def offset(self, rva):
        s = self.section_of(rva)
        if s is None or rva - s[1] >= s[2]:
            raise ValueError(f"RVA {rva:#x} has no file data")
        return s[3] + rva - s[1]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def uptr(self, rva):
        return struct.unpack_from(self.ptr, self.data, self.offset(rva))[0]

    def cstr(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):  # name -> RVA
        rva = self.dirs[0][0]
        if rva == 0:
            return {}
        count, functions, names, ordinals = struct.unpack_from("<IIII", self.data, self.offset(rva) + 24)
        return {self.cstr(self.u32(names + 4 * i)):
                self.u32(functions + 4 * struct.unpack_from("<H", self.data, self.offset(ordinals + 2 * i))[0])
                for i in range(count)}

    def thunks(self, names, slots):  # [(name or "#ordinal", slot RVA)]
        step, flag, entries = struct.calcsize(self.ptr), 1 << (struct.calcsize(self.ptr) * 8 - 1), []
        while (entry := self.uptr(names)) != 0:
            entries.append((f"#{entry & 0xFFFF}" if entry & flag else self.cstr(entry + 2), slots))
            names, slots = names + step, slots + step
        return entries

    def imports(self):  # [(dll, thunks)]
        result, rva = [], self.dirs[1][0]
        while rva and (entry := struct.unpack_from("<IIIII", self.data, self.offset(rva)))[3]:
            result.append((self.cstr(entry[3]), self.thunks(entry[0] or entry[4], entry[4])))
            rva += 20
        return result

    def symbols(self):  # name -> RVA of the COFF symbols that lie in a section
        d, strings, result, i = self.data, self.symtab + 18 * self.nsyms, {}, 0
        self.starts = set()  # every such symbol's RVA, the many local ones of one name too
        while i < self.nsyms:
            raw, value, section, _, _, naux = struct.unpack_from("<8sIhHBB", d, self.symtab + 18 * i)
            if raw[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", raw, 4)[0]
                raw = d[start:d.index(b"\0", start)]
            if 0 < section <= len(self.sections):
                result[raw.rstrip(b"\0").decode("ascii", "replace")] = self.sections[section - 1][1] + value
                self.starts.add(self.sections[section - 1][1] + value)
            i += 1 + naux
        return result


def main():
    dll_path, debug_path, system_dir, objdump = sys.argv[1:5]
    dll, debug = Image(dll_path), Image(debug_path)
    symbols = debug.symbols()
    problems, exported, count, delayed = [], {}, 0, set()

    def check_name(dll_name, what):
        path = os.path.join(system_dir, dll_name.lower())
        if path not in exported:
            exported[path] = Image(path).exports() if os.path.exists(path) else None
        if exported[path] is None:
            problems.append(f"{dll_name}: no such system DLL in {system_dir}")
        elif not what.startswith("#") and what not in exported[path]:
            problems.append(f"{dll_name}!{what}: not exported by the system DLL")

    for dll_name, entries in dll.imports():
        for what, slot in entries:
            count += 1
            check_name(dll_name, what)
            if not what.startswith("#") and not 0 < dll.uptr(slot) < dll.size:
                problems.append(f"{dll_name}!{what}: import slot holds {dll.uptr(slot):#x}")

    descriptors = [rva for name, rva in symbols.items() if name.lstrip("_").startswith("DELAY_IMPORT_DESCRIPTOR")]
    if not descriptors:
        problems.append("no delay-load descriptor found")
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
            section = dll.section_of(target) if 0 < target < dll.size else None
            if section is None or not section[4] & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
                problems.append(f"{dll_name}!{what} (delay-loaded): slot holds {dll.uptr(slot):#x}, not a thunk in the code")
                continue
            # The thunk hands the delay-load helper the address of its own slot.
            code = dll.data[dll.offset(target):dll.offset(target) + 7]
            if dll.wide:
                loads = code[:3] == b"\x48\x8d\x05" and target + 7 + struct.unpack_from("<i", code, 3)[0] == slot
            else:
                loads = code[0] == 0xB8 and struct.unpack_from("<I", code, 1)[0] == dll.base + slot
            if not loads:
                problems.append(f"{dll_name}!{what} (delay-loaded): the code at its slot's target does not load that slot")

    if not dll.wide:
        # A function ends where the next symbol starts, a static function's included.
        exports, starts = dll.exports(), sorted(debug.starts)
        problems += [f"export {name} is missing" for name in CALLBACKS if name not in exports]
        # Every C export (the installer callbacks, the console's C interface) is cdecl:
        # hosts and pages built by any compiler leave its arguments on the stack.
        for name, start in sorted(exports.items()):
            if name.startswith("_Z"):
                continue
            end = next((s for s in starts if s > start), start + 0x1000)
            listing = subprocess.run([objdump, "-d", f"--start-address={dll.base + start:#x}",
                                      f"--stop-address={dll.base + end:#x}", dll_path],
                                     capture_output=True, text=True, check=True).stdout
            if "ret" not in listing and "jmp" not in listing:  # a thin wrapper may end in a tail jump
                problems.append(f"{name}: no return found in its code")
            elif re.search(r"\bret[lw]?\s+\$0x", listing):
                problems.append(f"{name}: pops its arguments (ret N), its callers expect cdecl")

    print("\n".join(problems + [f"{count} imports checked against {system_dir}; delay-loaded: {', '.join(sorted(delayed))}"]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
