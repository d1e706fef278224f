#!/usr/bin/python3
# What a screen reader sees of the real program, read over AT-SPI: in full
# screen the picture area as an image named by the shown picture's status text
# and renamed (with an event) at every step; windowed, the picture list as a
# table (column headers, cells naming real files, the focused current cell, the
# highlighted rows as the selection) and the status bar with its three panels,
# checked against what the program shows while keys move the cursor and select
# rows. Exits 77 (skipped) when the accessibility bus does not start.
# Runs inside a private D-Bus session (the accessibility bus is started from
# it on demand) on the X display given in DISPLAY.
#
# usage: accessibility-test.py PROGRAM PICTURE_FOLDER OUTPUT_FOLDER
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


def fail(text):
    print("FAIL: " + text)
    if os.path.exists(log_path):
        with open(log_path, errors="replace") as f:
            lines = f.readlines()[-40:]
        if lines:
            print("--- program log")
            print("".join(lines), end="")
    if proc and proc.poll() is None:
        proc.kill()
        proc.wait()
    sys.exit(1)


def wait_for(what, probe, timeout=60):
    return atspi_support.wait_for(proc, fail, what, probe, timeout)


def focus_window():
    # Without a window manager the test gives the program's window the input focus.
    win = subprocess.run(["xdotool", "search", "--pid", str(proc.pid)], capture_output=True,
                         text=True).stdout.split()
    if not win:
        fail("no window")
    subprocess.run(["xdotool", "windowfocus", "--sync", win[-1]], capture_output=True)


def key(*keys):
    focus_window()
    subprocess.run(["xdotool", "key", "--delay", "50"] + list(keys), check=True)


def state(obj, which):
    return obj.getState().contains(which)


def fresh_state(obj, which):
    # Read from the program, not from what this side remembers of it.
    obj.clearCache()
    return state(obj, which)


# Focus events for cells of the list, as a screen reader receives them.
focused_cells = []


def on_focus(event):
    try:
        if event.detail1 == 1 and event.source.getRole() == pyatspi.ROLE_TABLE_CELL:
            focused_cells.append(event.source.name)
    except Exception:
        pass


pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")

# Name changes of pictures, as a screen reader hears them in full screen.
image_names = []


def on_name_change(event):
    try:
        if event.source.getRole() == pyatspi.ROLE_IMAGE:
            image_names.append(event.source.name)
    except Exception:
        pass


pyatspi.Registry.registerEventListener(on_name_change, "object:property-change:accessible-name")


def accessibility_bus_starts():
    # The session bus starts the accessibility bus on demand; where it cannot
    # (no launcher, a broken installation) there is nothing to test.
    from gi.repository import Gio
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                              GLib.VariantType.new("(s)"), Gio.DBusCallFlags.NONE, 20000, None)
        return bool(reply.unpack()[0])
    except Exception as e:
        print("SKIP: the accessibility bus does not start (%s)" % e)
        return False


if not accessibility_bus_starts():
    sys.exit(77)

env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
# The program finds the accessibility bus at start; asking for the desktop
# first starts the bus and its registry.
pyatspi.Registry.getDesktop(0)
with open(log_path, "w") as log:
    proc = subprocess.Popen([prog, "-Dir:" + pictures], stdout=log, stderr=subprocess.STDOUT,
                            env=env)

app = wait_for("the program on the accessibility bus", lambda: app_of(proc.pid))
table = wait_for("the picture list",
                 lambda: find(app, lambda o: o.getRole() == pyatspi.ROLE_TABLE))
bar = wait_for("the status bar",
               lambda: find(app, lambda o: o.getRole() == pyatspi.ROLE_STATUS_BAR))
if table.name != "Pictures":
    fail("the list is named %r" % table.name)

# The program starts full screen with the list and the status bar hidden: the
# picture area, an image, tells what is shown: the status bar's picture text
# as its name, the zoom and the place in the list as its description.
wait_for("the first picture's name in the status bar",
         lambda: bar.childCount >= 3 and bar.getChildAtIndex(2).name)


def picture_text():
    bar.clearCache()
    return bar.getChildAtIndex(2).name


def showing_image():
    return find(app, lambda o: o.getRole() == pyatspi.ROLE_IMAGE and
                fresh_state(o, pyatspi.STATE_SHOWING))


def fresh(obj):
    # The object as the program has it now, not as this side remembers it.
    obj.clearCache()
    return obj


image = wait_for("the picture area as a showing image", showing_image)
first_text = picture_text()
wait_for("the picture area named by the picture's status text",
         lambda: fresh(image).name == first_text)
# Without a window manager the test gives the window the input focus; the
# picture area then holds the keyboard focus, where a screen reader starts.
focus_window()
wait_for("the picture area focused", lambda: fresh_state(image, pyatspi.STATE_FOCUSED))
if not re.fullmatch(r"Zoom \d+ %, picture 1 of \d+(, page \d+ of \d+)?",
                    fresh(image).description):
    fail("the picture area is described as %r" % image.description)
# Each step is announced: the name changes to the new picture's text, by an event.
for step, place in (("Next", 2), ("Prior", 1)):
    before = fresh(image).name
    del image_names[:]
    key(step)
    text = wait_for("the status text after %s" % step,
                    lambda: picture_text() != before and picture_text())
    wait_for("the picture area renamed after %s" % step, lambda: fresh(image).name == text)
    wait_for("a name-change event for %r" % text, lambda: text in image_names)
    if not re.fullmatch(r"Zoom \d+ %%, picture %d of \d+(, page \d+ of \d+)?" % place,
                        fresh(image).description):
        fail("after %s the picture area is described as %r" % (step, image.description))

# Ctrl+F shows the list and gives it the keyboard focus.
key("ctrl+f")
wait_for("the list shown", lambda: fresh_state(table, pyatspi.STATE_SHOWING))


def main_window():
    # The program's top-level window that is shown (the About box is there
    # too, hidden); assistive tools see it as a frame.
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and fresh_state(window, pyatspi.STATE_SHOWING):
            return window
    return None


def activated():
    # Leaving full screen changes the window's border: the program must still
    # count its window active, with the list holding the keyboard focus.
    focus_window()
    window = main_window()
    return window is not None and fresh_state(window, pyatspi.STATE_ACTIVE)


wait_for("the window active again", activated)
window = main_window()
if window.getRole() != pyatspi.ROLE_FRAME or window.name != "Tobbins' Imbrel":
    fail("the main window is a %s named %r" % (window.getRoleName(), window.name))
wait_for("the list focused", lambda: fresh_state(table, pyatspi.STATE_FOCUSED))


def panels():
    return [bar.getChildAtIndex(i).name for i in range(bar.childCount)]


descriptions = [bar.getChildAtIndex(i).description for i in range(bar.childCount)]
# The fourth panel, "Page", is there (hidden) for files of one page too.
if descriptions not in (["Zoom", "Position", "Picture"], ["Zoom", "Position", "Picture", "Page"]):
    fail("panel descriptions %r" % descriptions)

t = table.queryTable()
columns = [t.getColumnDescription(c) for c in range(t.nColumns)]
if columns != ["Name", "Location", "Date", "Type"]:
    fail("column titles %r" % columns)
headers = [t.getColumnHeader(c).name for c in range(t.nColumns)]
if headers != columns:
    fail("column headers %r" % headers)

# Every picture of the folder tree, as the catalogue finds them.
files = set()
for folder, _, names in os.walk(pictures):
    for name in names:
        files.add(os.path.join(folder, name))

position = panels()[1]
try:
    current, count = [int(x) for x in position.split(" of ")]
except ValueError:
    fail("position panel %r" % position)
if current != 1 or count != len(files):
    fail("position panel %r with %d pictures in the folder" % (position, len(files)))
# The windowed list is tall enough for every sample picture: one row each.
rows = t.nRows
if rows != count:
    fail("%d rows for %d pictures" % (rows, count))


def row_texts(r):
    return [t.getAccessibleAt(r, c).name for c in range(t.nColumns)]


shown = [row_texts(r) for r in range(rows)]
for name, location, date, kind in shown:
    path = os.path.join(location, name)
    if path not in files:
        fail("row names %r, which is not a picture of the folder" % path)
    if not date or not kind:
        fail("row of %r without date or type: %r %r" % (name, date, kind))
if len({(r[1], r[0]) for r in shown}) != rows:
    fail("rows repeat a picture: %r" % shown)


def focused_cell():
    for r in range(t.nRows):
        for c in range(t.nColumns):
            if fresh_state(t.getAccessibleAt(r, c), pyatspi.STATE_FOCUSED):
                return (r, c)
    return None


def picture_panel_names(row):
    # The third panel shows the current picture's name, with its size once loaded.
    text = panels()[2]
    return text == shown[row][0] or text.startswith(shown[row][0] + " (")


# The cursor is on the first row: its cell has the focus, and the status bar
# names its picture.
if wait_for("a focused cell", focused_cell) != (0, 0):
    fail("focused cell %r, not the first row's" % (focused_cell(),))
wait_for("the first picture in the status bar", lambda: picture_panel_names(0))
# The current row is highlighted, and reported as the selection.
wait_for("the current row as the selection", lambda: list(t.getSelectedRows()) == [0])
if not t.isRowSelected(0) or not fresh_state(t.getAccessibleAt(0, 0), pyatspi.STATE_SELECTED):
    fail("the current row's cells are not selected")

# Page Down moves by a page: the cursor lands on the last row, which the status
# bar and a focus event both name.
key("Next")
last = rows - 1
wait_for("the cursor on the last row", lambda: panels()[1] == "%d of %d" % (last + 1, count))
wait_for("the focus on the last row", lambda: focused_cell() == (last, 0))
wait_for("the last row's picture in the status bar", lambda: picture_panel_names(last))
wait_for("a focus event for the last row's cell", lambda: shown[last][0] in focused_cells)
wait_for("the selection moved with the cursor", lambda: list(t.getSelectedRows()) == [last])
if fresh_state(t.getAccessibleAt(0, 0), pyatspi.STATE_SELECTED):
    fail("the row left still counts as selected")
if row_texts(last) != shown[last]:
    fail("the last row changed while the cursor moved to it: %r" % row_texts(last))

# Shift+Up twice selects the last three rows; the status bar says rows are selected.
key("shift+Up", "shift+Up")
selected = wait_for("the selection on AT-SPI", lambda: sorted(t.getSelectedRows()) == [
    last - 2, last - 1, last] and t.getSelectedRows())
wait_for("the status bar counting a selection",
         lambda: panels()[1].endswith(" of %d selected" % count))
if not all(state(t.getAccessibleAt(r, 0), pyatspi.STATE_SELECTED) for r in selected):
    fail("selected rows whose cells are not selected: %r" % selected)
if state(t.getAccessibleAt(0, 0), pyatspi.STATE_SELECTED):
    fail("the first row counts as selected")

# Page Up clears the selection and returns to the first row.
key("Prior")
wait_for("the first row again", lambda: panels()[1] == "1 of %d" % count)
wait_for("the selection back to the current row", lambda: list(t.getSelectedRows()) == [0])
wait_for("the focus back on the first row", lambda: focused_cell() == (0, 0))

# A picture shown again (Home on the first row) is announced again, though its
# text is the one before.
del image_names[:]
key("Home")
wait_for("the picture shown again announced", lambda: picture_text() in image_names)

# Back to full screen (the view takes the keys), where Esc ends the program.
key("ctrl+f")
wait_for("the list hidden", lambda: not fresh_state(table, pyatspi.STATE_SHOWING))
wait_for("the window active again", activated)
key("Escape")
try:
    rc = proc.wait(timeout=60)
except subprocess.TimeoutExpired:
    fail("Esc did not end the program")
if rc != 0:
    fail("exit code %d" % rc)
print("PASS: %d rows read over AT-SPI" % rows)
