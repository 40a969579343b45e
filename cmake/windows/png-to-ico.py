#!/usr/bin/env python3
"""Packs PNG images into one Windows icon file, each kept as PNG (as Windows Vista and later read them).

usage: png-to-ico.py OUTPUT.ico IMAGE.png..."""
import struct
import sys

output, images = sys.argv[1], sys.argv[2:]
entries = []
for path in images:
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("png-to-ico.py: not a PNG: " + path)
    width, height = struct.unpack(">II", data[16:24])
    entries.append((width, height, data))
header = struct.pack("<HHH", 0, 1, len(entries))
offset = len(header) + 16 * len(entries)
directory = b""
for width, height, data in entries:
    # A side of 256 is written as 0.
    directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(output, "wb") as ico:
    ico.write(header + directory + b"".join(data for _, _, data in entries))
