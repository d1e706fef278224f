#!/usr/bin/python3
# Steps through a folder of today's formats in the real program: with
# -formats:all every picture is listed, and Page Down shows each in turn, its
# name and size in the status bar's picture panel (read over AT-SPI) and its
# colour at the screen's centre; without the option only the pictures of the
# fifteen default extensions are listed. Exits 77 (skipped) when the
# accessibility bus does not start. Runs inside a private D-Bus session on the
# X display given in DISPLAY.
#
# usage: formats-all-test.py PROGRAM PICTURE_FOLDER OUTPUT_FOLDER
import os
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

import atspi_support
from atspi_support import app_of, find

prog, pictures, out = sys.argv[1:4]
log_path = os.path.join(out, "program.log")
proc = None

# Every picture of the folder: its size as shown, and its colour at the
# screen's centre (None: the DNG's scene; a list: any of the GIF's frames).
PICTURES = {
    "a.png": ((40, 30), (200, 30, 30)),
    "b.jpg": ((44, 33), (30, 200, 30)),
    "anim.gif": ((48, 36), [(255, 0, 0), (0, 255, 0), (0, 0, 255)]),
    "still.webp": ((52, 39), (30, 30, 200)),
    "phone.heic": ((56, 42), (200, 200, 30)),
    "web.avif": ((60, 46), (30, 200, 200)),
    "photo.jxl": ((64, 48), (200, 30, 200)),
    "old.jpe": ((74, 56), (120, 120, 120)),
    "camera.dng": ((32, 24), None),
    "icon.svg": ((70, 50), (250, 150, 0)),
}
DEFAULT_ONLY = {"a.png", "b.jpg"}
TOLERANCE = 12  # lossy encoders and YUV round trips


def fail(text):
    print("FAIL: " + text)
    if os.path.exists(log_path):
        with open(log_path, errors="replace") as f:
            lines = f.readlines()[-40:]
        if lines:
            print("--- program log")
            print("".join(lines), end="")
    stop()
    sys.exit(1)


def stop():
    if proc and proc.poll() is None:
        proc.kill()
        proc.wait()


def wait_for(what, probe, timeout=60):
    return atspi_support.wait_for(proc, fail, what, probe, timeout)


def key(*keys):
    # Without a window manager the test gives the program's window the focus.
    win = subprocess.run(["xdotool", "search", "--pid", str(proc.pid)], capture_output=True,
                         text=True).stdout.split()
    if not win:
        fail("no window")
    subprocess.run(["xdotool", "windowfocus", "--sync", win[-1]], capture_output=True)
    subprocess.run(["xdotool", "key", "--delay", "50"] + list(keys), check=True)


def centre_colour(name):
    shot = os.path.join(out, name + ".png")
    subprocess.run(["import", "-window", "root", shot], check=True, capture_output=True)
    text = subprocess.run(["convert", shot, "-crop", "1x1+512+384", "+repage", "-format",
                           "%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]", "info:"],
                          check=True, capture_output=True, text=True).stdout
    return tuple(int(v) for v in text.split(","))


def near(seen, expected):
    return all(abs(a - b) <= TOLERANCE for a, b in zip(seen, expected))


def accessibility_bus_starts():
    from gi.repository import Gio
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                              GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, 20000, None)
        return bool(reply.unpack()[0])
    except Exception as e:
        print("SKIP: the accessibility bus does not start (%s)" % e)
        return False


def run(options, expected):
    """Starts the program on the folder with OPTIONS, steps through its list with
    Page Down and checks that it lists exactly the pictures EXPECTED, each shown
    with its size and colour; ends it with Esc."""
    global proc
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    with open(log_path, "w") as log:
        proc = subprocess.Popen([prog] + options + [pictures], stdout=log,
                                stderr=subprocess.STDOUT, env=env)
    app = wait_for("the program on the accessibility bus", lambda: app_of(proc.pid))
    bar = wait_for("the status bar",
                   lambda: find(app, lambda o: o.getRole() == pyatspi.ROLE_STATUS_BAR))

    def panel(i):
        bar.clearCache()
        return bar.getChildAtIndex(i).name if bar.childCount > i else ""

    label = " ".join(options) or "no options"
    position = wait_for("the position panel (%s)" % label,
                        lambda: re.fullmatch(r"1 of (\d+)", panel(1)))
    count = int(position.group(1))
    if count != len(expected):
        fail("%s: %d pictures listed, expected %d" % (label, count, len(expected)))
    seen = {}
    for step in range(1, count + 1):
        if step > 1:
            key("Next")
        wait_for("row %d (%s)" % (step, label), lambda: panel(1) == "%d of %d" % (step, count))
        # The picture panel names the picture and, once it is shown, its size.
        text = wait_for("the picture's size in the status bar (%s, row %d)" % (label, step),
                        lambda: re.fullmatch(r"(.+) \((\d+)x(\d+)\)", panel(2)))
        name, size = text.group(1), (int(text.group(2)), int(text.group(3)))
        if name not in expected:
            fail("%s: %s is listed" % (label, name))
        if name in seen:
            fail("%s: %s is listed twice" % (label, name))
        want_size, want_colour = PICTURES[name]
        if size != want_size:
            fail("%s: %s is shown as %dx%d, not %dx%d" % ((label, name) + size + want_size))
        seen[name] = size
        # On screen: the picture fills the screen's centre.
        shot = "%s-%d" % ("all" if options else "default", step)
        colours = want_colour if isinstance(want_colour, list) else [want_colour]

        def painted():
            colour = centre_colour(shot)
            if want_colour is None:
                return colour != (0, 0, 0)
            return any(near(colour, c) for c in colours)

        wait_for("%s painted (%s, centre %s)" % (name, label, centre_colour(shot)), painted,
                 timeout=20)
    if set(seen) != set(expected):
        fail("%s: listed %s, expected %s" % (label, sorted(seen), sorted(expected)))
    # Page Down on the last row wraps to the first.
    key("Next")
    wait_for("the wrap to row 1 (%s)" % label, lambda: panel(1) == "1 of %d" % count)
    key("Escape")
    try:
        rc = proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        fail("Esc did not end the program (%s)" % label)
    if rc != 0:
        fail("exit code %d (%s)" % (rc, label))
    print("%s: %d pictures stepped through: %s" % (
        label, count, ", ".join("%s %dx%d" % ((n,) + seen[n]) for n in sorted(seen))))


if not accessibility_bus_starts():
    sys.exit(77)
pyatspi.Registry.getDesktop(0)
run(["-formats:all"], set(PICTURES))
run([], DEFAULT_ONLY)
print("PASS")
