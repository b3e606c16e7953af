#!/usr/bin/env python3
"""Checks a shipped WDXPatchAgent.dll as Windows teams' binary analyzers do:
  check_hardening.py DLL...
Each DLL lies in its build tree's bin/ with its .debug file and PDB; the tree's
libwdx_*.a are our objects. A DLL fails on ASLR, DEP or (i686) NO_SEH missing,
code that touches the i686 structured exception handler chain, no stack
protector, a zero time stamp, an OS version below Windows 7, a wrong PE
checksum, a section both writable and executable, no CodeView entry or a PDB
that does not match it, does not dump whole or lacks a global function among
its publics, and a call of an unbounded or unsafe C runtime function from our
objects or the DLL's imports."""
import glob
import os
import re
import struct
import subprocess
import sys
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_pe_imports import Image  # noqa: E402

DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA, NO_SEH = 0x40, 0x100, 0x20, 0x400
SCN_EXECUTE, SCN_WRITE = 0x20000000, 0x80000000
PDB_PARTS = ("--modules", "--files", "--symbols", "--publics", "--section-contribs")
BANNED = {"wcscpy", "wcscat", "strcpy", "strcat", "sprintf", "swprintf", "vsprintf", "vswprintf", "_snprintf",
          "_snwprintf", "_vsnprintf", "_vsnwprintf", "_itow", "_itoa", "_ltow", "_ultow", "gets", "_getws"}


def pe_checksum(data, at):
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for i, (word,) in enumerate(struct.iter_unpack("<H", padded)):
        if i not in (at // 2, at // 2 + 1):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
    return ((total + (total >> 16)) & 0xFFFF) + len(data)


def codeview(dll, opt):
    """(GUID, age, PDB name) of the debug directory's RSDS entry, or None."""
    rva, size = struct.unpack_from("<II", dll.data, opt + (112 if dll.wide else 96) + 8 * 6)
    for at in range(dll.offset(rva), dll.offset(rva) + size, 28) if rva else ():
        kind, _, _, raw = struct.unpack_from("<IIII", dll.data, at + 12)
        if kind == 2 and dll.data[raw:raw + 4] == b"RSDS":
            age = struct.unpack_from("<I", dll.data, raw + 20)[0]
            name = dll.data[raw + 24:dll.data.index(b"\0", raw + 24)].decode()
            return str(uuid.UUID(bytes_le=dll.data[raw + 4:raw + 20])).upper(), age, name
    return None


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout


def check_pdb(pdb, guid, age, functions):
    if not os.path.exists(pdb):
        return [f"{os.path.basename(pdb)}: no PDB beside the DLL"], 0, 0
    summary = run("llvm-pdbutil", "dump", "--summary", pdb)
    problems = []
    if f"GUID: {{{guid}}}" not in summary or not re.search(rf"\bAge: {age}\b", summary):
        problems.append(f"{os.path.basename(pdb)} is not the PDB of the DLL's CodeView entry {{{guid}}} age {age}")
    # What a debugger reads, read whole: ld's PDB once stopped every reader after its first module.
    whole = subprocess.run(["llvm-pdbutil", "dump", *PDB_PARTS, pdb], capture_output=True, text=True)
    if whole.returncode or whole.stderr.strip() or re.search(r"^Unexpected error|Stream Error", whole.stdout, re.M):
        reason = (whole.stderr.strip() or whole.stdout.strip()).splitlines()[-1:] or [f"exit status {whole.returncode}"]
        problems.append(f"{os.path.basename(pdb)} does not dump whole ({' '.join(PDB_PARTS)}): {reason[0]}")
    publics = set(re.findall(r"S_PUB32 \[size = \d+\] `([^`]*)`", run("llvm-pdbutil", "dump", "--publics", pdb)))
    missing = sorted(functions - publics)
    if missing:
        problems.append(f"{len(missing)} functions not among the PDB's publics, e.g. {', '.join(missing[:3])}")
    return problems, len(publics), len(functions)


def check(path):
    dll = Image(path)
    arch = "x86_64" if dll.wide else "i686"
    tree, name = os.path.dirname(os.path.dirname(path)), os.path.splitext(os.path.basename(path))[0]
    debug = Image(path + ".debug")
    d, problems = dll.data, []
    pe = struct.unpack_from("<I", d, 0x3C)[0]
    opt = pe + 24
    stamp = struct.unpack_from("<I", d, pe + 8)[0]
    os_version = struct.unpack_from("<HH", d, opt + 40)
    subsystem_version = struct.unpack_from("<HH", d, opt + 48)
    checksum = struct.unpack_from("<I", d, opt + 64)[0]
    flags = struct.unpack_from("<H", d, opt + 70)[0]

    wanted = {"DYNAMIC_BASE": DYNAMIC_BASE, "NX_COMPAT": NX_COMPAT}
    wanted.update({"HIGH_ENTROPY_VA": HIGH_ENTROPY_VA} if dll.wide else {"NO_SEH": NO_SEH})
    problems += [f"{flag} is not set" for flag, bit in wanted.items() if not flags & bit]
    if not dll.wide:
        # NO_SEH promises that no handler of this image is ever on the chain at fs:0.
        listing = run(f"{arch}-w64-mingw32-objdump", "-d", path)
        if re.search(r"%fs:(0x0\b|\()", listing):
            problems.append("code reads or writes the exception handler chain (%fs:0): NO_SEH would be false")
    symbols = {s.lstrip("_") for s in debug.symbols()}
    if not {"stack_chk_fail", "stack_chk_guard"} <= symbols:
        problems.append("no stack protector (__stack_chk_fail, __stack_chk_guard)")
    if stamp == 0:
        problems.append("the time stamp is 0")
    if os_version < (6, 1) or subsystem_version < (6, 1):
        problems.append(f"OS version {os_version}, subsystem version {subsystem_version}: Windows 7 is 6.1")
    if checksum != pe_checksum(d, opt + 64):
        problems.append(f"PE checksum {checksum:#x} is wrong")
    license_text = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "LICENSE")).read()
    holder = re.search(r"^Copyright .*$", license_text, re.M).group(0)
    if (holder + "\0").encode("utf-16-le") not in d:
        problems.append(f"the version resource lacks LICENSE's \"{holder}\"")
    problems += [f"section at {rva:#x} is writable and executable"
                 for _, rva, _, _, characteristics in dll.sections
                 if characteristics & SCN_EXECUTE and characteristics & SCN_WRITE]

    entry, publics, functions = codeview(dll, opt), 0, 0
    if entry is None:
        problems.append("the debug directory has no CodeView (RSDS) entry")
    elif entry[2] != name + ".pdb":
        problems.append(f"the CodeView entry names {entry[2]}, not {name}.pdb")
    else:
        # Global functions: the exports and every other external symbol of the code.
        text = [i + 1 for i, s in enumerate(debug.sections) if s[4] & SCN_EXECUTE]
        exports = {n if dll.wide else "_" + n for n in dll.exports()}  # as i386 symbols are named
        functions = exports | {n for n, _ in external_code_symbols(debug, text)}
        more, publics, functions = check_pdb(os.path.join(os.path.dirname(path), name + ".pdb"), *entry[:2], functions)
        problems += more

    called = set()
    for archive in sorted(glob.glob(os.path.join(tree, "libwdx_*.a"))):
        for line in run(f"{arch}-w64-mingw32-nm", "-A", "-u", archive).splitlines():
            symbol = line.split()[-1]
            plain = symbol.removeprefix("__imp_")
            plain = plain if dll.wide else plain.removeprefix("_")
            if plain.split("@")[0] in BANNED:
                called.add(f"{line.split(':')[1]}: {plain}")
    for dll_name, entries in dll.imports():
        called |= {f"{dll_name}: {what}" for what, _ in entries if what in BANNED}
    problems += [f"banned call: {c}" for c in sorted(called)]

    print(f"{path}: {arch}, DllCharacteristics {flags:#06x}, time stamp {stamp}, OS {os_version[0]}.{os_version[1]}, "
          f"CodeView {entry}, {publics} PDB publics, {functions} exports and global functions looked for among them")
    return [f"{arch}: {p}" for p in problems]


def external_code_symbols(image, sections):
    d, strings, i = image.data, image.symtab + 18 * image.nsyms, 0
    while i < image.nsyms:
        raw, _, section, kind, storage, naux = struct.unpack_from("<8sIhHBB", d, image.symtab + 18 * i)
        if raw[:4] == b"\0\0\0\0":
            start = strings + struct.unpack_from("<I", raw, 4)[0]
            raw = d[start:d.index(b"\0", start)]
        if section in sections and storage == 2 and kind & 0x30 == 0x20:  # external function
            yield raw.rstrip(b"\0").decode("ascii", "replace"), section
        i += 1 + naux


def main():
    problems = [p for path in sys.argv[1:] for p in check(path)]
    print("\n".join(problems) if problems else "all checks passed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
