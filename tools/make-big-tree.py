#!/usr/bin/env python3
"""Makes a big picture tree for trying the catalogue at scale: by default
1,000,000 files in 2,000 folders (40 top folders of 50), nine in ten of them
tiny pictures (1 x 1 PNG and BMP files), the rest text files; modification
times spread over ten years.

    tools/make-big-tree.py ROOT [FILES]

ROOT must not exist yet. Remove it afterwards with rm -rf ROOT."""

import os
import random
import struct
import sys
import zlib


def tiny_png():
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"\x00\x80\x40\x20")
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b"")


def tiny_bmp():
    row = b"\x20\x40\x80\x00"  # one pixel, padded to four bytes
    info = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, len(row), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(row), 0, 0, 14 + len(info))
    return head + info + row


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    if os.path.exists(root):
        sys.exit(f"{root} exists already")
    rng = random.Random(20261210)
    png, bmp = tiny_png(), tiny_bmp()
    folders = []
    for top in range(40):
        for sub in range(50):
            folders.append(os.path.join(root, f"{2000 + top // 3} album {top}", f"event {sub:02d}"))
    per_folder = (files + len(folders) - 1) // len(folders)
    start = 1_300_000_000
    made = 0
    for folder in folders:
        os.makedirs(folder)
        for k in range(per_folder):
            if made == files:
                break
            roll = rng.random()
            if roll < 0.6:
                name, data = f"IMG_{made:07d}.png", png
            elif roll < 0.9:
                name, data = f"scan {made:07d}.BMP", bmp
            else:
                name, data = f"notes {made:07d}.txt", b"not a picture\n"
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(data)
            t = start + rng.randrange(10 * 365 * 86400)
            os.utime(path, (t, t))
            made += 1
    print(f"made {made} files in {len(folders)} folders under {root}")


if __name__ == "__main__":
    main()
