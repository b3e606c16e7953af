"""What the release's DLLs are built with, read from the installed Debian packages:
the runtime parts linked statically into every DLL and the packages they and the
compilers come from. Shared by notices.py and sbom.py."""
import os
import subprocess

ARCHES = ("i686", "x86_64")

# The runtime parts the DLLs link statically (-static -static-libgcc -static-libstdc++),
# by the files the link takes them from.
COMPONENTS = (
    ("winpthreads", "POSIX threads for Windows (mingw-w64)", "MIT AND BSD-3-Clause",
     ("libwinpthread.a",)),
    ("mingw-w64-crt", "mingw-w64 C runtime start-up, TLS support and C99 extras over msvcrt.dll",
     "NOASSERTION", ("dllcrt2.o", "libmingw32.a", "libmingwex.a", "libmoldname.a", "libmsvcrt.a")),
    ("libgcc", "GCC runtime library and unwinder", "GPL-3.0-or-later WITH GCC-exception-3.1",
     ("crtbegin.o", "libgcc.a", "libgcc_eh.a")),
    ("libstdc++", "GNU C++ library", "GPL-3.0-or-later WITH GCC-exception-3.1", ("libstdc++.a",)),
    ("libssp", "GCC stack protector library", "GPL-3.0-or-later WITH GCC-exception-3.1",
     ("libssp.a", "libssp_nonshared.a")),
)

# The tools that turn the sources into the shipped files.
TOOLS = ("{arch}-w64-mingw32-g++-posix", "{arch}-w64-mingw32-ld", "{arch}-w64-mingw32-objcopy",
         "{arch}-w64-mingw32-windres", "{arch}-w64-mingw32-dlltool", "cmake", "ninja")


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout.strip()


def packages_of(paths):
    """{path: the Debian package that installed it} (symbolic links resolved), in one
    query: dpkg reads its whole file list on every call."""
    real = {p: os.path.realpath(p) for p in paths}
    owner = {}
    for line in run("dpkg-query", "-S", *sorted(set(real.values()))).splitlines():
        package, _, path = line.partition(": ")
        owner[path] = package.split(",")[0].split(":")[0]
    return {p: owner[r] for p, r in real.items()}


def version_of(package):
    return run("dpkg-query", "-W", "-f=${Version}", package)


def copyright_of(package):
    return f"/usr/share/doc/{package}/copyright"


def component_packages():
    """[(name, description, licence, [(arch, file, package)])] for every component."""
    found = {}
    for _, _, _, files in COMPONENTS:
        for arch in ARCHES:
            for f in files:
                path = run(f"{arch}-w64-mingw32-g++-posix", f"-print-file-name={f}")
                if not os.path.isabs(path):
                    raise SystemExit(f"{arch}: the compiler does not know {f}")
                found[arch, f] = path
    owner = packages_of(found.values())
    return [(name, description, licence, [(arch, f, owner[found[arch, f]]) for arch in ARCHES for f in files])
            for name, description, licence, files in COMPONENTS]


def tool_packages():
    """Sorted names of the packages of the compilers, binutils and build tools."""
    exes = {run("sh", "-c", 'command -v "$1"', "-", tool.format(arch=arch)) for arch in ARCHES for tool in TOOLS}
    return sorted(set(packages_of(exes).values()))
