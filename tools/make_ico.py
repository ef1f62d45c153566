#!/usr/bin/env python3
"""Packs the program's PNG icons into one Windows .ico (PNG-compressed images, as Windows Vista
and later and Wine read them): tools/make_ico.py OUT.ico IN.png..."""
import struct
import sys


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG")
    return struct.unpack(">II", data[16:24])


def main(out, inputs):
    images = [open(path, "rb").read() for path in inputs]
    offset = 6 + 16 * len(images)
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for data in images:
        width, height = png_size(data)
        # 256 is written as 0, as the format has one byte for it.
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    with open(out, "wb") as ico:
        ico.write(header + entries + b"".join(images))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2:])
