#!/usr/bin/env python3
"""Writes the site's 32x32 program icons (plain PNG, standard library only)."""
import os
import struct
import zlib

ICONS = {
    "notelark": (0xF2, 0xC1, 0x4E),
    "pebblezip": (0x8A, 0x6F, 0x4D),
    "tidewave": (0x2E, 0x86, 0xC1),
    "quillview": (0xC0, 0x39, 0x2B),
    "halvex-guard": (0x27, 0xAE, 0x60),
    "halvex-cleaner": (0x16, 0xA0, 0x85),
    "framesmith": (0x8E, 0x44, 0xAD),
    "ledgerly": (0x34, 0x49, 0x5E),
}


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def icon(colour, size=32):
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter: none
        for x in range(size):
            edge = x in (0, size - 1) or y in (0, size - 1)
            inner = 8 <= x < 24 and 8 <= y < 24
            if edge:
                px = (0x33, 0x33, 0x33)
            elif inner:
                px = tuple(min(255, c + 70) for c in colour)
            else:
                px = colour
            row += bytes(px)
        rows.append(bytes(row))
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
os.makedirs(here, exist_ok=True)
for name, colour in ICONS.items():
    with open(os.path.join(here, name + ".png"), "wb") as f:
        f.write(icon(colour))
