"""What the real-window tests that read the program over AT-SPI share: pumping
the events listeners wait for, polling the accessible tree while the program
runs, and finding objects in it."""

import time

import pyatspi
from gi.repository import GLib


def pump():
    """Delivers the events the listeners wait for."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(proc, fail, what, probe, timeout=60):
    """Polls probe() until it returns something true, failing (through fail) when
    the program proc ends first or after timeout seconds, a generous hang guard."""
    end = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < end:
        pump()
        if proc.poll() is not None:
            fail("program ended while waiting for %s (exit %s)" % (what, proc.returncode))
        try:
            result = probe()
            if result:
                return result
        except Exception as e:  # the tree changes while it is read
            last_error = e
        time.sleep(0.1)
    fail("timed out waiting for %s%s" % (what, " (%s)" % last_error if last_error else ""))


def find(root, predicate):
    """The first object below root (root included) that predicate accepts."""
    if predicate(root):
        return root
    for i in range(root.childCount):
        child = root.getChildAtIndex(i)
        if child is None:
            continue
        found = find(child, predicate)
        if found:
            return found
    return None


def app_of(pid):
    """The accessible application of process pid, or None."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None
