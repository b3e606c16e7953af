#!/usr/bin/env python3
"""The archive's file list (files.txt) put into practice:
  stage.py TABLE STAGE ORIGIN=DIR...   copies every file of the table to STAGE/<name>,
                                       ORIGIN=DIR saying where x86:, x64:, src: and
                                       stage: sources lie; a missing file that is
                                       not optional fails
  stage.py TABLE --flag FLAG           prints the names that carry FLAG"""
import os
import shutil
import sys


def read(table):
    """[(name, origin, path, flags)] in the table's order."""
    rows = []
    with open(table, encoding="utf-8") as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            origin, _, path = words[1].partition(":")
            rows.append((words[0], origin, path, set(words[2:])))
    return rows


def main(table, *args):
    rows = read(table)
    if args[0] == "--flag":
        sys.stdout.write("".join(f"{name}\n" for name, _, _, flags in rows if args[1] in flags))
        return
    stage, roots = args[0], dict(a.split("=", 1) for a in args[1:])
    for name, origin, path, flags in rows:
        source = os.path.join(roots[origin], path)
        if not os.path.exists(source):
            if "optional" in flags:
                continue
            sys.exit(f"{table}: {name}: {source} does not exist")
        os.makedirs(os.path.dirname(os.path.join(stage, name)), exist_ok=True)
        shutil.copyfile(source, os.path.join(stage, name))


if __name__ == "__main__":
    main(*sys.argv[1:])
