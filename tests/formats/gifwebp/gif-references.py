#!/usr/bin/python3
"""Writes small GIF files and what Pillow shows of each of their frames.

usage: gif-references.py OUTDIR

Pillow writes the files (with each disposal method, transparency and
interlacing); gifsicle rewrites some of them as optimised animations (frames
cut to the part that changes, transparency for unchanged pixels), the way
animations met in the wild are made.

references.txt lists the files compared with Pillow: for NAME.gif the frames
Pillow decodes are NAME.N.ppm (N from 1), transparent parts composited onto
black, and NAME.txt holds each frame's duration in milliseconds as Pillow
reads it. Pillow takes "restore to previous" on a first frame for "leave in
place", where the GIF rules and browsers restore the empty screen; files
using that disposal are compared differently: pairs.txt lists an animation
and gifsicle's optimised rewrite of it, which show the same frames.

Exits 77 when Pillow or gifsicle is missing.
"""

import os
import shutil
import subprocess
import sys

try:
    from PIL import Image, ImageDraw, ImageSequence
except ImportError:
    sys.exit(77)
if shutil.which("gifsicle") is None:
    sys.exit(77)

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def scene(i, w=48, h=32):
    """Frame i of a small scene: a still gradient, a moving square and a
    growing bar, so that later frames change only in part."""
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 5) % 256, (y * 7) % 256, 90)
    d = ImageDraw.Draw(im)
    d.rectangle([i * 6 % w, 4, i * 6 % w + 9, 14], fill=(255, 255, 0))
    d.rectangle([4, 20, 12 + 3 * i, 28], fill=(0, 0, 200))
    return im


def sprite(i, w=40, h=24):
    """Frame i of a sprite on a transparent background."""
    im = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.ellipse([i * 5, 3 + i, i * 5 + 12, 15 + i], fill=(250, 120, 30, 255))
    d.rectangle([30 - i * 3, 2, 36 - i * 3, 8], fill=(40, 200, 90, 255))
    return im


def quantised(frames):
    """The frames in the first one's palette, so that unchanged pixels keep
    their indices and the optimiser can cut frames to what changes."""
    first = frames[0].quantize(colors=64, method=Image.Quantize.MEDIANCUT)
    return [first] + [f.quantize(palette=first) for f in frames[1:]]


def write_references(name):
    im = Image.open(os.path.join(out, name + ".gif"))
    durations = []
    for n, frame in enumerate(ImageSequence.Iterator(im), start=1):
        rgba = frame.convert("RGBA")
        back = Image.new("RGBA", rgba.size, (0, 0, 0, 255))
        back.alpha_composite(rgba)
        back.convert("RGB").save(os.path.join(out, "%s.%d.ppm" % (name, n)))
        durations.append(str(frame.info.get("duration", 0)))
    with open(os.path.join(out, name + ".txt"), "w") as f:
        f.write("\n".join(durations) + "\n")


# A still in Pillow's own palette, plain and interlaced.
still = quantised([scene(0)])[0]
still.save(os.path.join(out, "still.gif"), interlace=False)
still.save(os.path.join(out, "interlaced.gif"), interlace=True)

# Transparency: every fourth pixel of a still is the transparent index.
t = quantised([scene(1)])[0]
tp = t.load()
for y in range(t.height):
    for x in range(0, t.width, 4):
        tp[x, y] = 0
t.save(os.path.join(out, "transparent.gif"), transparency=0)

# Animations: whole frames, each disposal method, then gifsicle's optimised
# rewrites (sub-rectangles, transparency, "restore to previous").
frames = quantised([scene(i) for i in range(6)])
for disposal in (1, 2, 3):
    frames[0].save(os.path.join(out, "disposal%d.gif" % disposal), save_all=True,
                   append_images=frames[1:], duration=[40, 80, 0, 10, 120, 60],
                   disposal=disposal, loop=0)
subprocess.run(["gifsicle", "-O3", "-o", os.path.join(out, "optimised.gif"),
                os.path.join(out, "disposal1.gif")], check=True)
subprocess.run(["gifsicle", "-O2", "--interlace", "-o",
                os.path.join(out, "optimised-interlaced.gif"),
                os.path.join(out, "disposal1.gif")], check=True)
subprocess.run(["gifsicle", "--disposal=previous", "-o", os.path.join(out, "previous.gif"),
                os.path.join(out, "disposal1.gif")], check=True)
subprocess.run(["gifsicle", "-O2", "-o", os.path.join(out, "optimised-previous.gif"),
                os.path.join(out, "previous.gif")], check=True)

# A sprite on a transparent background, each frame cleared to the
# background (transparent) before the next.
sprites = []
for i in range(5):
    p = sprite(i).convert("RGB").quantize(colors=16)
    alpha = sprite(i).getchannel("A").load()
    pp = p.load()
    for y in range(p.height):
        for x in range(p.width):
            if alpha[x, y] == 0:
                pp[x, y] = 15
    sprites.append(p)
sprites[0].save(os.path.join(out, "sprite.gif"), save_all=True, append_images=sprites[1:],
                duration=50, disposal=2, transparency=15, loop=2)
subprocess.run(["gifsicle", "-O2", "-o", os.path.join(out, "sprite-optimised.gif"),
                os.path.join(out, "sprite.gif")], check=True)

compared = ("still", "interlaced", "transparent", "disposal1", "disposal2", "optimised",
            "optimised-interlaced", "sprite", "sprite-optimised")
for name in compared:
    write_references(name)
with open(os.path.join(out, "references.txt"), "w") as f:
    f.write("\n".join(compared) + "\n")
with open(os.path.join(out, "pairs.txt"), "w") as f:
    f.write("previous optimised-previous\nsprite sprite-optimised\ndisposal1 optimised\n"
            "disposal3 disposal3-optimised\n")
subprocess.run(["gifsicle", "-O2", "-o", os.path.join(out, "disposal3-optimised.gif"),
                os.path.join(out, "disposal3.gif")], check=True)
