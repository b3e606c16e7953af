#!/usr/bin/env python3
"""Writes THIRD_PARTY_NOTICES.txt to standard output: which runtime parts the DLLs
link statically, and the copyright files of the Debian packages they come from,
word for word (those files carry the licences and the GCC Runtime Library
Exception)."""
import sys

import toolchain


def main():
    components = toolchain.component_packages()
    out = ["Third-party notices", "===================", "",
           "The DLLs in x86/ and x64/ link the following runtime parts statically. They",
           "come from the Debian packages named below; each package's copyright file",
           "follows word for word. The GCC runtime libraries (libgcc, libstdc++, libssp)",
           "are under the GPL version 3 or later with the GCC Runtime Library Exception",
           "3.1, which lets them be linked into programs under any licence; winpthreads",
           "is under the MIT (expat) licence with BSD-3-Clause parts; the mingw-w64",
           "runtime is under the Zope Public License 2.1 and in parts in the public domain.",
           "The DLLs import msvcrt.dll, the C runtime of Windows, which is not shipped.", ""]
    packages = []
    for name, description, licence, parts in components:
        names = sorted({p for _, _, p in parts})
        files = sorted({f for _, f, _ in parts})
        out.append(f"  {name}: {description}")
        out.append(f"    licence: {licence if licence != 'NOASSERTION' else 'see the copyright file below'}")
        out.append(f"    linked from: {', '.join(files)}")
        out.append(f"    packages: {', '.join(f'{p} {toolchain.version_of(p)}' for p in names)}")
        packages += [p for p in names if p not in packages]
    # Packages of one source share one copyright file: print each text once.
    seen = {}
    for package in sorted(packages):
        with open(toolchain.copyright_of(package), encoding="utf-8") as f:
            seen.setdefault(f.read(), []).append(package)
    for text, names in seen.items():
        title = f"Copyright file of {', '.join(names)}"
        out += ["", "", title, "-" * len(title), "", text.rstrip("\n")]
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
