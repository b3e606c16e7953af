#!/usr/bin/env python3
"""The compile commands of the library's own units, for clang-tidy.

Reads `ninja -t compdb` of a build tree on standard input, keeps the .cpp units
under ROOT/src/ and the unit that reads the header-only C++ layer of the console
(which no library unit includes), writes them to OUT/compile_commands.json (clang-tidy -p OUT) and
prints their file names, one a line.
    lint_units.py ROOT OUT < compdb.json
"""
import json
import os
import sys


def main() -> int:
    root, out = sys.argv[1], sys.argv[2]
    src = os.path.join(root, "src") + "/"
    cpp_layer = os.path.join(root, "tests", "cpplayer", "members_cpplayer.cpp")
    units = [c for c in json.load(sys.stdin)
             if (c["file"].startswith(src) and c["file"].endswith(".cpp")) or c["file"] == cpp_layer]
    with open(os.path.join(out, "compile_commands.json"), "w", encoding="utf-8") as f:
        json.dump(units, f)
    for c in units:
        print(c["file"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
