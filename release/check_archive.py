#!/usr/bin/env python3
"""Checks an unpacked release archive against its own promises:
  check_archive.py DIR TABLE
its files are those of TABLE (release/files.txt) plus SHA256SUMS and the bill of
materials; the product folders hold only what an integrator ships; the bill of
materials names every file with its SHA-256 and the linked runtime parts; the
notices carry the runtime licences; the PDBs dump whole; the samples are
stripped and say they are samples. Prints what is wrong and fails."""
import hashlib
import json
import os
import struct
import subprocess
import sys

import stage

SHIPPED = (".dll", ".dll.a", ".lib", ".def", ".pdb", ".dll.debug")
PDB_PARTS = ("--modules", "--files", "--symbols", "--publics", "--section-contribs")
RUNTIME = ("winpthreads", "mingw-w64-crt", "libgcc", "libstdc++", "libssp")


def main(root, table):
    faults = []
    names = sorted(os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
                   for d, _, fs in os.walk(root) for f in fs)
    rows = stage.read(table)
    listed = {name for name, *_ in rows} | {"SHA256SUMS", "WDXPatchAgent.spdx.json"}
    faults += [f"{n}: not in {os.path.basename(table)}" for n in names if n not in listed]
    faults += [f"{n}: missing" for n, _, _, flags in rows if "optional" not in flags and n not in names]
    faults += [f"{n}: not a file an integrator ships" for n in names
               if n.split("/")[0] in ("x86", "x64") and not n.endswith(SHIPPED)]

    def read(name):
        with open(os.path.join(root, name), "rb") as f:
            return f.read()

    sbom = json.loads(read("WDXPatchAgent.spdx.json"))
    described = {f["fileName"][2:]: {c["algorithm"]: c["checksumValue"] for c in f["checksums"]} for f in sbom["files"]}
    for n in names:
        if n in ("SHA256SUMS", "WDXPatchAgent.spdx.json"):
            continue
        if described.pop(n, {}).get("SHA256") != hashlib.sha256(read(n)).hexdigest():
            faults.append(f"{n}: the bill of materials does not give its SHA-256")
    faults += [f"{n}: in the bill of materials, not in the archive" for n in described]
    faults += [f"bill of materials: no {c}" for c in RUNTIME if c not in {p["name"] for p in sbom["packages"]}]
    if sbom.get("spdxVersion") != "SPDX-2.3":
        faults.append("bill of materials: not SPDX-2.3")

    notices = read("THIRD_PARTY_NOTICES.txt").decode()
    faults += [f"THIRD_PARTY_NOTICES.txt: no {t}" for t in ("GCC RUNTIME LIBRARY EXCEPTION", "winpthreads/*", "mingw-w64")
               if t not in notices]
    faults += [f"README.txt: {t} left unfilled" for t in ("@VERSION@", "@ABI@", "@EXPORTS@")
               if t in read("README.txt").decode()]

    for n in (n for n in names if n.endswith(".pdb")):  # read whole, as a debugger reads it
        dump = subprocess.run(["llvm-pdbutil", "dump", *PDB_PARTS, os.path.join(root, n)],
                              capture_output=True, text=True)
        if dump.returncode or dump.stderr.strip():
            faults.append(f"{n}: does not dump whole ({' '.join(PDB_PARTS)}): {dump.stderr.strip()[:200]}")
    for n in (n for n in names if n.startswith("sample/") and n.endswith(".dll")):
        image = read(n)
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        if struct.unpack_from("<II", image, pe + 12) != (0, 0) or b".debug_info" in image:
            faults.append(f"{n}: not stripped")
        if "not for production".encode("utf-16-le") not in image:
            faults.append(f"{n}: its version resource does not say it is a sample")
    helper = "sample/x86/SSO_PKIHelper.dll"  # the tests' helper lets sessions in: never this one
    if helper in names and "refuses every session".encode("utf-16-le") not in read(helper):
        faults.append(f"{helper}: not the sample that refuses every session")
    for fault in faults:
        print(f"release archive: {fault}", file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
