#!/usr/bin/env python3
"""Writes two small metafiles with the same drawing (a sky, a sun, hills and a
house): a placeable Windows metafile and an enhanced metafile.

Usage: make-metafiles.py OUT.wmf OUT.emf
"""
import struct
import sys

W, H = 400, 300  # logical units = pixels at 96 dpi


def rgb(r, g, b):
    return r | (g << 8) | (b << 16)  # COLORREF: red in the low byte


SKY, SUN, FAR, NEAR, WALL, ROOF, DOOR = (
    rgb(135, 190, 235), rgb(255, 220, 90), rgb(90, 140, 70), rgb(50, 95, 45),
    rgb(235, 225, 200), rgb(170, 50, 40), rgb(90, 60, 40))

# The drawing: (kind, colour, geometry). Each shape is drawn with a solid brush
# of its colour and a black pen one unit wide (the sky without an outline).
SHAPES = [
    ("rect", SKY, (0, 0, W, H)),
    ("ellipse", SUN, (290, 40, 350, 100)),
    ("polygon", FAR, [(0, 190), (70, 150), (140, 175), (230, 120), (330, 170), (400, 140), (400, 300), (0, 300)]),
    ("polygon", NEAR, [(0, 240), (90, 205), (200, 235), (300, 200), (400, 230), (400, 300), (0, 300)]),
    ("rect", WALL, (60, 200, 150, 270)),
    ("polygon", ROOF, [(50, 200), (105, 160), (160, 200)]),
    ("rect", DOOR, (95, 230, 115, 270)),
]


# ---- Windows metafile (placeable) ----
def wmf_record(function, params):
    words = len(params)
    return struct.pack("<IH", 3 + words, function) + struct.pack("<%dh" % words, *params) if words else \
        struct.pack("<IH", 3, function)


def wmf_record_raw(function, payload):
    assert len(payload) % 2 == 0
    return struct.pack("<IH", 3 + len(payload) // 2, function) + payload


def make_wmf():
    recs = []
    recs.append(wmf_record(0x0103, [8]))            # SETMAPMODE MM_ANISOTROPIC
    recs.append(wmf_record(0x020B, [0, 0]))          # SETWINDOWORG y, x
    recs.append(wmf_record(0x020C, [H, W]))          # SETWINDOWEXT y, x
    recs.append(wmf_record(0x0106, [1]))             # SETPOLYFILLMODE ALTERNATE
    for kind, colour, geo in SHAPES:
        # Object slots: the brush takes slot 0, the pen slot 1; both freed after use.
        recs.append(wmf_record_raw(0x02FC, struct.pack("<HIH", 0, colour, 0)))  # CREATEBRUSHINDIRECT solid
        pen_style = 5 if geo == (0, 0, W, H) else 0  # PS_NULL for the sky
        recs.append(wmf_record_raw(0x02FA, struct.pack("<HhhI", pen_style, 1, 0, 0)))  # CREATEPENINDIRECT
        recs.append(wmf_record(0x012D, [0]))  # SELECTOBJECT brush
        recs.append(wmf_record(0x012D, [1]))  # SELECTOBJECT pen
        if kind == "rect":
            l, t, r, b = geo
            recs.append(wmf_record(0x041B, [b, r, t, l]))  # RECTANGLE
        elif kind == "ellipse":
            l, t, r, b = geo
            recs.append(wmf_record(0x0418, [b, r, t, l]))  # ELLIPSE
        else:
            flat = [len(geo)] + [c for p in geo for c in p]
            recs.append(wmf_record(0x0324, flat))  # POLYGON
        recs.append(wmf_record(0x01F0, [0]))  # DELETEOBJECT
        recs.append(wmf_record(0x01F0, [1]))
    recs.append(wmf_record(0x0000, []))  # EOF
    body = b"".join(recs)
    max_record = max(struct.unpack_from("<I", r)[0] for r in recs)
    header = struct.pack("<HHHIHIH", 1, 9, 0x0300, (18 + len(body)) // 2, 2, max_record, 0)
    # Placeable header: key, handle, bounding box, units per inch, reserved, checksum.
    words = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, W, H, 96, 0)
    checksum = 0
    for (w,) in struct.iter_unpack("<H", words):
        checksum ^= w
    return words + struct.pack("<H", checksum) + header + body


# ---- Enhanced metafile ----
def emr(rtype, payload):
    payload += b"\0" * (-len(payload) % 4)
    return struct.pack("<II", rtype, 8 + len(payload)) + payload


def make_emf():
    recs = []
    recs.append(emr(17, struct.pack("<I", 8)))              # EMR_SETMAPMODE MM_ANISOTROPIC
    recs.append(emr(9, struct.pack("<ii", W, H)))            # EMR_SETWINDOWEXTEX
    recs.append(emr(10, struct.pack("<ii", 0, 0)))           # EMR_SETWINDOWORGEX
    recs.append(emr(11, struct.pack("<ii", W, H)))           # EMR_SETVIEWPORTEXTEX
    recs.append(emr(19, struct.pack("<I", 1)))               # EMR_SETPOLYFILLMODE ALTERNATE
    for kind, colour, geo in SHAPES:
        recs.append(emr(39, struct.pack("<IIII", 1, 0, colour, 0)))   # EMR_CREATEBRUSHINDIRECT, handle 1
        pen_style = 5 if geo == (0, 0, W, H) else 0
        recs.append(emr(38, struct.pack("<IIiiI", 2, pen_style, 1, 0, 0)))  # EMR_CREATEPEN, handle 2
        recs.append(emr(37, struct.pack("<I", 1)))  # EMR_SELECTOBJECT
        recs.append(emr(37, struct.pack("<I", 2)))
        if kind == "rect":
            recs.append(emr(43, struct.pack("<iiii", *geo)))  # EMR_RECTANGLE
        elif kind == "ellipse":
            recs.append(emr(42, struct.pack("<iiii", *geo)))  # EMR_ELLIPSE
        else:
            xs = [p[0] for p in geo]
            ys = [p[1] for p in geo]
            payload = struct.pack("<iiiiI", min(xs), min(ys), max(xs), max(ys), len(geo))
            payload += b"".join(struct.pack("<hh", *p) for p in geo)
            recs.append(emr(86, payload))  # EMR_POLYGON16
        recs.append(emr(37, struct.pack("<I", 0x80000000 + 4)))  # select stock WHITE_BRUSH ...
        recs.append(emr(37, struct.pack("<I", 0x80000000 + 7)))  # ... and BLACK_PEN before deleting
        recs.append(emr(40, struct.pack("<I", 1)))  # EMR_DELETEOBJECT
        recs.append(emr(40, struct.pack("<I", 2)))
    recs.append(emr(14, struct.pack("<III", 0, 16, 20)))  # EMR_EOF
    body = b"".join(recs)
    # Reference device 1024 x 768 pixels on 320 x 240 mm: 0.3125 mm per pixel.
    frame = (0, 0, W * 3125 // 100, H * 3125 // 100)  # in 0.01 mm
    n_records = len(recs) + 1
    header_payload = struct.pack(
        "<iiii" "iiii" "IIIIHHIII" "ii" "ii",
        0, 0, W - 1, H - 1,             # bounds, device units, inclusive
        *frame,                          # frame, 0.01 mm
        0x464D4520, 0x10000, 0, n_records, 3, 0, 0, 0, 0,  # signature, version, bytes (patched), records, handles
        1024, 768, 320, 240)             # reference device in pixels and millimetres
    header = emr(1, header_payload)
    data = bytearray(header + body)
    struct.pack_into("<I", data, 48, len(data))  # nBytes
    return bytes(data)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(make_wmf())
    with open(sys.argv[2], "wb") as f:
        f.write(make_emf())


if __name__ == "__main__":
    main()
