#!/usr/bin/env python3
"""Writes the release archive, the same bytes for the same files on every run:
  pack.py ARCHIVE EPOCH PREFIX (NAME=FILE | DIR)...
A DIR adds every file under it by its path there. Every entry gets the time EPOCH (seconds), one mode and its place in name order;
SHA256SUMS of the other files is added and also written to standard output."""
import hashlib
import os
import struct
import sys
import time
import zipfile


def pe_checksum(image):
    """(stored, computed over every byte but the field itself) of a PE file."""
    at = struct.unpack_from("<I", image, 0x3C)[0] + 24 + 64
    words = image[:at] + bytes(4) + image[at + 4:] + bytes(len(image) % 2)
    total = sum(struct.unpack(f"<{len(words) // 2}H", words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return struct.unpack_from("<I", image, at)[0], total + len(image)


def main(archive, epoch, prefix, *pairs):
    data = {}
    files = []
    for pair in pairs:
        if "=" in pair:
            files.append(pair.split("=", 1))
        else:
            files += [(os.path.relpath(os.path.join(d, f), pair).replace(os.sep, "/"), os.path.join(d, f))
                      for d, _, fs in os.walk(pair) for f in fs]
    for name, path in files:
        with open(path, "rb") as f:
            data[name] = f.read()
        # A DLL whose header checksum does not match its bytes is never shipped.
        if name.endswith(".dll") and len(set(pe_checksum(data[name]))) != 1:
            sys.exit(f"{path}: the PE checksum does not match the file's bytes")
    sums = "".join(f"{hashlib.sha256(data[name]).hexdigest()}  {name}\n" for name in sorted(data))
    data["SHA256SUMS"] = sums.encode()
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times begin in 1980
    with zipfile.ZipFile(archive, "w") as z:
        for name in sorted(data):
            info = zipfile.ZipInfo(f"{prefix}/{name}", stamp)
            info.create_system = 3  # Unix, so the mode below is read
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data[name], compresslevel=9)
    sys.stdout.write(sums)


if __name__ == "__main__":
    main(*sys.argv[1:])
