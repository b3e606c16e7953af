#!/usr/bin/env python3
"""Checks the parts of a layer without compiling it:
  check_layer_parts.py LAYER_FOLDER PART...   (parts lowest first)
Each part's units may include, by bare name, the headers of their own part and
of the parts before it. The build puts only those folders on a unit's include
path; this also catches what the include path cannot: a path that climbs out
of the unit's folder ("../page/x.h") or names the layer's own folders, and a
unit that lies in no part."""
import os, re, sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Headers the build writes (the top CMakeLists.txt), not units of any part.
GENERATED = {"WdxVersion.h"}


def main():
    layer, parts = sys.argv[1], sys.argv[2:]
    name, problems = os.path.basename(os.path.normpath(layer)), []
    stray = [f for f in os.listdir(layer) if f.endswith((".cpp", ".h"))]
    problems += [f"{name}/{f}: lies in no part ({', '.join(parts)})" for f in sorted(stray)]
    headers = {part: set(f for f in os.listdir(os.path.join(layer, part)) if f.endswith(".h")) for part in parts}
    for i, part in enumerate(parts):
        visible = set().union(*(headers[p] for p in parts[:i + 1]))
        for unit in sorted(os.listdir(os.path.join(layer, part))):
            text = open(os.path.join(layer, part, unit), encoding="utf-8").read()
            for included in INCLUDE.findall(text):
                where = f"{name}/{part}/{unit}: includes \"{included}\""
                if ".." in included.split("/") or included.startswith(name + "/"):
                    problems.append(f"{where}, a path into the layer's own folders")
                elif "/" not in included and included not in visible and included not in GENERATED:
                    later = [p for p in parts[i + 1:] if included in headers[p]]
                    problems.append(f"{where}, " + (f"a header of the later part {later[0]}" if later else "no header of its part or below"))
    print("\n".join(problems) or f"{name}: every unit includes its own part's or lower parts' headers ({' < '.join(parts)})")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
