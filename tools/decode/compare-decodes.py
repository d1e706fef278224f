#!/usr/bin/env python3
"""Decodes every file of the shared test pictures and the fuzz corpora with an
imbrel-decode binary and writes one line per case: the case, a hash of what the
tool printed (class, format and size, or the exception's class and message) and
a hash of the PPM it wrote. Two such listings, made by two builds, are compared
with --compare OLD NEW.

  compare-decodes.py DECODE_BINARY OUT.tsv [--testdata DIR] [--corpus DIR]
  compare-decodes.py --compare OLD.tsv NEW.tsv

Corpus folders are decoded as the format their fuzz target reads; fuzz_view
inputs are written with the extension their first byte picks (as that target
does); EXIF blocks are put into an APP1 segment of a small JPEG, so their
orientation shows in the picture. DCX files are decoded page by page (pages 1
to 3)."""

import argparse
import concurrent.futures
import hashlib
import io
import os
import subprocess
import sys
import tempfile

CORPUS_EXT = {
    "fuzz_bmp": "bmp", "fuzz_dcx": "dcx", "fuzz_emf": "emf", "fuzz_ico": "ico",
    "fuzz_jpeg": "jpg", "fuzz_pcx": "pcx", "fuzz_png": "png", "fuzz_png_crc": "png",
    "fuzz_tga": "tga", "fuzz_tiff": "tif", "fuzz_wmf": "wmf",
}
# The extensions fuzz_view's first byte picks from, in its order.
VIEW_EXT = ["BMP", "PCX", "DCX", "TGA", "ICO", "WMF", "EMF", "JPG", "PNG", "TIF", "GIF", "XPM",
            "PPM"]


def carrier_jpeg():
    """A 3 x 2 JPEG whose turned versions all differ; None without Pillow."""
    try:
        from PIL import Image
    except ImportError:
        return None
    img = Image.new("RGB", (3, 2))
    colours = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255),
               (255, 0, 255)]
    for i, c in enumerate(colours):
        img.putpixel((i % 3, i // 3), c)
    out = io.BytesIO()
    img.save(out, "JPEG", quality=95)
    return out.getvalue()


def with_app1(jpeg, payload):
    if len(payload) > 65533:
        payload = payload[:65533]
    segment = b"\xff\xe1" + (len(payload) + 2).to_bytes(2, "big") + payload
    return jpeg[:2] + segment + jpeg[2:]


def cases(testdata, corpus, scratch):
    """(label, path, page) for every decode to make."""
    out = []
    if testdata and os.path.isfile(os.path.join(testdata, "MANIFEST.tsv")):
        with open(os.path.join(testdata, "MANIFEST.tsv"), encoding="utf-8") as f:
            next(f)
            for line in f:
                name = line.split("\t", 1)[0]
                path = os.path.join(testdata, name)
                if not os.path.isfile(path):
                    continue
                pages = [1, 2, 3] if name.lower().endswith(".dcx") else [1]
                out += [("testdata/%s#%d" % (name, p), path, p) for p in pages]
    if not corpus:
        return out
    jpeg = carrier_jpeg()
    if not jpeg:
        print("no Pillow: the EXIF corpus is left out", file=sys.stderr)
    for target in sorted(os.listdir(corpus)):
        folder = os.path.join(corpus, target)
        for name in sorted(os.listdir(folder)):
            src = os.path.join(folder, name)
            data = open(src, "rb").read()
            label = "%s/%s" % (target, name)
            if target in CORPUS_EXT:
                ext = CORPUS_EXT[target]
                body = data
            elif target == "fuzz_view":
                if len(data) < 2:
                    continue
                ext = VIEW_EXT[data[0] % len(VIEW_EXT)].lower()
                body = data[2:]
            elif target == "fuzz_exif" and jpeg:
                for kind, payload in (("app1", data), ("tiff", b"Exif\0\0" + data)):
                    path = os.path.join(scratch, "%s-%s-%s.jpg" % (target, name, kind))
                    open(path, "wb").write(with_app1(jpeg, payload))
                    out.append(("%s:%s#1" % (label, kind), path, 1))
                continue
            else:
                continue
            path = os.path.join(scratch, "%s-%s.%s" % (target, name, ext))
            open(path, "wb").write(body)
            pages = [1, 2, 3] if ext == "dcx" else [1]
            out += [("%s#%d" % (label, p), path, p) for p in pages]
    return out


def decode(binary, scratch, case):
    label, path, page = case
    ppm = os.path.join(scratch, hashlib.sha1(label.encode()).hexdigest() + ".ppm")
    try:
        r = subprocess.run([binary, path, "--index", str(page), "-o", ppm], capture_output=True,
                           timeout=60)
        printed = r.stdout + b"rc=%d" % r.returncode
    except subprocess.TimeoutExpired:
        printed = b"timeout"
    pixels = b""
    if os.path.exists(ppm):
        pixels = open(ppm, "rb").read()
        os.remove(ppm)
    return "%s\t%s\t%s\t%s" % (label, hashlib.sha1(printed).hexdigest()[:16],
                               hashlib.sha1(pixels).hexdigest()[:16] if pixels else "-",
                               printed.decode("utf-8", "replace").splitlines()[0]
                               if printed.strip() else "")


def compare(old, new):
    def load(p):
        rows = {}
        for line in open(p, encoding="utf-8"):
            f = line.rstrip("\n").split("\t")
            rows[f[0]] = f[1:]
        return rows
    a, b = load(old), load(new)
    same = [k for k in a if k in b and a[k][:2] == b[k][:2]]
    differ = [k for k in a if k in b and a[k][:2] != b[k][:2]]
    missing = [k for k in a if k not in b] + [k for k in b if k not in a]
    print("compared %d, identical %d, different %d, in one listing only %d" %
          (len(same) + len(differ), len(same), len(differ), len(missing)))
    for k in differ:
        print("DIFF %s\n  old: %s\n  new: %s" % (k, " | ".join(a[k]), " | ".join(b[k])))
    for k in missing:
        print("ONLY %s" % k)
    return 1 if differ or missing else 0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--compare", nargs=2)
    p.add_argument("binary", nargs="?")
    p.add_argument("out", nargs="?")
    p.add_argument("--testdata")
    p.add_argument("--corpus")
    p.add_argument("--jobs", type=int, default=2)
    args = p.parse_args()
    if args.compare:
        return compare(*args.compare)
    if not args.binary or not args.out:
        p.error("DECODE_BINARY and OUT are needed")
    env_limit = os.environ.setdefault("IMBREL_MAX_PIXELS", str(1 << 26))
    with tempfile.TemporaryDirectory(prefix="imbrel-compare-") as scratch:
        todo = cases(args.testdata, args.corpus, scratch)
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            lines = list(pool.map(lambda c: decode(args.binary, scratch, c), todo))
    with open(args.out, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    print("%d decodes (pixel limit %s) written to %s" % (len(lines), env_limit, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
