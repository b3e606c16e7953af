#!/usr/bin/env python3
"""Makes the PDB that GNU ld writes the same bytes in any folder:
  wdx_pdb_paths.py PDB TIMESTAMP FOLDER=NAME...
ld records each input's real path (module and archive names, the linker
module's working folder and PDB path) and the time of day as the PDB's
signature. Each FOLDER (resolved as ld resolves it) becomes NAME, as
-ffile-prefix-map does for the DWARF data, and the signature becomes TIMESTAMP.
ld also leaves out the DBI stream's file name table (its EC substream), which
every module's file name indexes point into, so readers stop at the first
module: it gets the table that holds only the empty name, and each module its
first section contribution, as other linkers write them.
The MSF container is written anew, every stream in order, so its layout follows
from the streams alone. The GUID and age, which tie the PDB to the DLL's
CodeView entry, stay as they are."""
import os
import struct
import sys

DBI_STREAM = 3
S_OBJNAME, S_ENVBLOCK = 0x1101, 0x113D
SECTION_CONTRIBS_V60, CONTRIB_SIZE = 0xF12EBA2D, 28
# A string table holding the empty name only: signature, version, size of the
# names, the names, two empty hash buckets and the count of names.
EMPTY_NAMES = struct.pack("<III", 0xEFFEEFFE, 1, 1) + b"\0" + struct.pack("<IIII", 2, 0, 0, 0)


def read_msf(data):
    block, _, _, cb_dir, _, map_block = struct.unpack_from("<6I", data, 32)
    if data[:32] != b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0":
        raise ValueError("not an MSF 7.00 file")

    def gather(blocks, size):
        return b"".join(data[b * block:(b + 1) * block] for b in blocks)[:size]

    dir_blocks = struct.unpack_from(f"<{-(-cb_dir // block)}I", data, map_block * block)
    directory = gather(dir_blocks, cb_dir)
    count = struct.unpack_from("<I", directory)[0]
    sizes = [0 if s == 0xFFFFFFFF else s for s in struct.unpack_from(f"<{count}I", directory, 4)]
    at, streams = 4 + 4 * count, []
    for size in sizes:
        n = -(-size // block)
        streams.append(gather(struct.unpack_from(f"<{n}I", directory, at), size))
        at += 4 * n
    return block, streams


def write_msf(block, streams):
    # Blocks 1 and 2 of every interval of `block` blocks hold the free block map;
    # every block of the file is in use.
    pages = [b""]  # the superblock, filled in below

    def place(payload):
        first = []
        for at in range(0, len(payload), block):
            while len(pages) % block in (1, 2):
                pages.append(b"")
            first.append(len(pages))
            pages.append(payload[at:at + block])
        return first

    lists = [place(s) for s in streams]
    directory = struct.pack(f"<{1 + len(streams)}I", len(streams), *[len(s) for s in streams])
    directory += b"".join(struct.pack(f"<{len(l)}I", *l) for l in lists)
    dir_blocks = place(directory)
    map_block = place(struct.pack(f"<{len(dir_blocks)}I", *dir_blocks))
    if len(map_block) != 1:
        raise ValueError("directory too large for one block map block")
    total = len(pages)
    free = bytearray(b"\xff" * (-(-total // (8 * block)) * block))
    free[:total // 8] = b"\0" * (total // 8)
    free[total // 8] &= 0xFF << (total % 8) & 0xFF
    for i in range(1, total, block):  # the map's piece for each interval
        pages[i] = bytes(free[(i // block) * block:(i // block + 1) * block])
    pages[0] = b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0" + struct.pack(
        "<6I", block, 1, total, len(directory), 0, map_block[0])
    return b"".join(p.ljust(block, b"\0") for p in pages)


def rename(text, maps):
    for folder, name in maps:
        if text == folder or text.startswith(folder + b"/"):
            return name + text[len(folder):]
    return text


def fix_symbols(stream, cb_symbols, maps):
    """The module's symbol records with their paths renamed; the rest as it was."""
    out, at = bytearray(stream[:4]), 4
    while at < cb_symbols:
        length, kind = struct.unpack_from("<HH", stream, at)
        record = stream[at + 4:at + 2 + length]
        if kind == S_ENVBLOCK:  # a flags byte, then name and value texts up to an empty one
            texts = record[1:].split(b"\0")
            end = texts.index(b"") if b"" in texts else len(texts)
            record = record[:1] + b"".join(rename(t, maps) + b"\0" for t in texts[:end]) + b"\0"
        elif kind == S_OBJNAME:  # a signature, then the object's path
            record = record[:4] + rename(record[4:].split(b"\0")[0], maps) + b"\0"
        record = struct.pack("<H", kind) + record
        record += b"\0" * (-(len(record) + 2) % 4)
        out += struct.pack("<H", len(record)) + record
        at += 2 + length
    return bytes(out), bytes(stream[cb_symbols:])


def first_contributions(dbi, at, size):
    """Each module's first section contribution, by module index."""
    first = {}
    if size >= 4 and struct.unpack_from("<I", dbi, at)[0] == SECTION_CONTRIBS_V60:
        for entry in range(at + 4, at + size - CONTRIB_SIZE + 1, CONTRIB_SIZE):
            first.setdefault(struct.unpack_from("<H", dbi, entry + 16)[0], dbi[entry:entry + CONTRIB_SIZE])
    return first


def fix_dbi(streams, maps):
    dbi = streams[DBI_STREAM]
    # The substreams' sizes: modules, section contributions, section map, files,
    # type server map, (MFC index,) optional debug header, file names (EC).
    cb_modules, cb_contribs, cb_map, cb_files, cb_tsm, _, _, cb_names = struct.unpack_from("<8I", dbi, 24)
    first = first_contributions(dbi, 64 + cb_modules, cb_contribs)
    modules, at, end, index = bytearray(), 64, 64 + cb_modules, 0
    while at < end:
        header = bytearray(dbi[at:at + 64])
        header[4:4 + CONTRIB_SIZE] = first.get(index, header[4:4 + CONTRIB_SIZE])
        index += 1
        names = []
        at += 64
        for _ in range(2):  # module name, then object or archive name
            stop = dbi.index(b"\0", at)
            names.append(rename(dbi[at:stop], maps))
            at = stop + 1
        at += -at % 4
        stream, cb_symbols = struct.unpack_from("<HI", header, 34)
        if stream != 0xFFFF and cb_symbols >= 4:
            symbols, rest = fix_symbols(streams[stream], cb_symbols, maps)
            streams[stream] = symbols + rest
            struct.pack_into("<I", header, 36, len(symbols))
        entry = bytes(header) + names[0] + b"\0" + names[1] + b"\0"
        modules += entry + b"\0" * (-len(entry) % 4)
    head = bytearray(dbi[:64])
    struct.pack_into("<I", head, 24, len(modules))
    rest = dbi[end:]
    if cb_names == 0:
        names_at = cb_contribs + cb_map + cb_files + cb_tsm
        rest = rest[:names_at] + EMPTY_NAMES + rest[names_at:]
        struct.pack_into("<I", head, 52, len(EMPTY_NAMES))
    streams[DBI_STREAM] = bytes(head) + bytes(modules) + rest


def main():
    path, stamp = sys.argv[1], int(sys.argv[2])
    maps = []
    for arg in sys.argv[3:]:
        folder, name = arg.split("=", 1)
        maps.append((os.path.realpath(folder).encode(), name.encode()))
    maps.sort(key=lambda m: -len(m[0]))  # the build tree may lie inside the source tree
    block, streams = read_msf(open(path, "rb").read())
    info = bytearray(streams[1])
    struct.pack_into("<I", info, 4, stamp)
    streams[1] = bytes(info)
    fix_dbi(streams, maps)
    with open(path + ".tmp", "wb") as out:
        out.write(write_msf(block, streams))
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
