#!/usr/bin/env python3
"""Writes the grid's 9 x 9 glyph bitmaps (24-bit BMP) from the pixel art below.

Magenta is the transparent colour. The sort triangles have a raised look:
grey on their upper and left edges, white on the others. Run from this folder
after editing the art; the bitmaps are kept in the tree.
"""
import struct

COLOURS = {
    '.': (255, 0, 255),    # transparent
    'g': (128, 128, 128),  # shadow edge / chevrons
    'w': (255, 255, 255),  # light edge
    'k': (0, 0, 0),
    's': (160, 160, 160),  # filled triangles of the XP look
}

GLYPHS = {
    'ARROWCOLLAPSED': [
        '.........',
        '..k......',
        '..kk.....',
        '..kkk....',
        '..kkkk...',
        '..kkk....',
        '..kk.....',
        '..k......',
        '.........',
    ],
    'ARROWEXPANDED': [
        '.........',
        '.........',
        '.kkkkkkk.',
        '..kkkkk..',
        '...kkk...',
        '....k....',
        '.........',
        '.........',
        '.........',
    ],
    'ICONCOLLAPSED': [
        'ggggggggg',
        'gwwwwwwwg',
        'gwwwkwwwg',
        'gwwwkwwwg',
        'gwkkkkkwg',
        'gwwwkwwwg',
        'gwwwkwwwg',
        'gwwwwwwwg',
        'ggggggggg',
    ],
    'ICONEXPANDED': [
        'ggggggggg',
        'gwwwwwwwg',
        'gwwwwwwwg',
        'gwwwwwwwg',
        'gwkkkkkwg',
        'gwwwwwwwg',
        'gwwwwwwwg',
        'gwwwwwwwg',
        'ggggggggg',
    ],
    'SORTASCENDING': [
        '.........',
        '....g....',
        '...g.w...',
        '...g.w...',
        '..g...w..',
        '..g...w..',
        '.g.....w.',
        '.gwwwwww.',
        '.........',
    ],
    'SORTDESCENDING': [
        '.........',
        '.ggggggg.',
        '.g.....w.',
        '..g...w..',
        '..g...w..',
        '...g.w...',
        '...g.w...',
        '....w....',
        '.........',
    ],
    'SORTAVAILABLEASCENDING': [
        '.........',
        '.........',
        '.........',
        '....g....',
        '...g.g...',
        '..g...g..',
        '.........',
        '.........',
        '.........',
    ],
    'SORTAVAILABLEDESCENDING': [
        '.........',
        '.........',
        '.........',
        '..g...g..',
        '...g.g...',
        '....g....',
        '.........',
        '.........',
        '.........',
    ],
    'SORTAVAILABLEBOTH': [
        '.........',
        '....g....',
        '...g.g...',
        '..g...g..',
        '.........',
        '..g...g..',
        '...g.g...',
        '....g....',
        '.........',
    ],
    'SORTASCENDINGXP': [
        '.........',
        '.........',
        '....s....',
        '...sss...',
        '..sssss..',
        '.sssssss.',
        '.........',
        '.........',
        '.........',
    ],
    'SORTDESCENDINGXP': [
        '.........',
        '.........',
        '.sssssss.',
        '..sssss..',
        '...sss...',
        '....s....',
        '.........',
        '.........',
        '.........',
    ],
}


def write_bmp(path, rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for ch in row:
            r, g, b = COLOURS[ch]
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        pixels += line
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels),
                       3780, 3780, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + pixels)


if __name__ == '__main__':
    for name, rows in GLYPHS.items():
        assert len(rows) == 9 and all(len(r) == 9 for r in rows), name
        write_bmp(name.lower() + '.bmp', rows)
