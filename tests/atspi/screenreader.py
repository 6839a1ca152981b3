#!/usr/bin/python3
"""What a screen reader gets of the viewer, read through AT-SPI.

Run inside a private session bus (dbus-run-session); starts a private X display of its own,
starts the viewer on a collection with the desktop's accessibility on from the start, and
again with it turned on only once the viewer runs (a reader started after the viewer), and
checks each time that the home page's headings and links reach the reader and that every
control of the window has a name. Arguments: the program and the collection folder.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

CONTROL_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_MENU, pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_LIST,
    pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE,
}


def set_status(prop, on):
    """As a screen reader does: IsEnabled, or ScreenReaderEnabled as Orca sets it."""
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                    "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                    "string:org.a11y.Status", "string:" + prop,
                    "variant:boolean:" + ("true" if on else "false")],
                   check=True, stdout=subprocess.DEVNULL)


def start_display():
    """A private Xvfb on a display number it picks itself; answers the process and the name."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1366x768x24",
                               "-nolisten", "tcp"], pass_fds=(write,),
                              stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as numbers:
        number = numbers.readline().strip()
    return server, ":" + number


def find_application(name, timeout, viewer):
    end = time.monotonic() + timeout
    while time.monotonic() < end and viewer.poll() is None:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and (app.name or "").lower() == name:
                return app
        time.sleep(0.5)
    return None


def walk(node, depth=0, inside_document=False):
    """Every node below node, with whether it lies inside the web document."""
    if node is None or depth > 60:
        return
    try:
        role = node.getRole()
        count = node.childCount
    except Exception:
        return
    yield node, role, inside_document
    inside = inside_document or role in (pyatspi.ROLE_DOCUMENT_WEB, pyatspi.ROLE_DOCUMENT_FRAME)
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1, inside)


def read_window(app, wait):
    """The home page's headings and links, and the controls without a name, once the page's
    headings and links are there or wait seconds have passed."""
    headings, links, unnamed = [], [], []
    end = time.monotonic() + wait
    while True:
        headings, links, unnamed = [], [], []
        for node, role, in_document in walk(app):
            name = node.name or ""
            if in_document and role == pyatspi.ROLE_HEADING:
                headings.append(name)
            elif in_document and role == pyatspi.ROLE_LINK:
                links.append(name)
            elif not in_document and role in CONTROL_ROLES and not name.strip():
                # Hidden ones too: a clear button shows as soon as there is text.
                parent = node.parent
                unnamed.append("%s in %s" % (node.getRoleName(),
                                              parent.getRoleName() if parent else "-"))
        if (headings and links) or time.monotonic() >= end:
            return headings, links, unnamed
        time.sleep(1)


def check(program, collection, env, on_at_start):
    """One start of the viewer; answers whether the reader got what it needs."""
    set_status("IsEnabled", on_at_start)
    set_status("ScreenReaderEnabled", False)
    viewer = subprocess.Popen([program, "--collection", collection], env=env)
    try:
        app = find_application("legisdisco", 90, viewer)
        if app is None:
            print("the viewer never showed itself to AT-SPI (exit status %s)" % viewer.poll())
            return False
        if not on_at_start:
            # The viewer has come and shown its page to nobody; now the reader starts.
            time.sleep(3)
            silent = read_window(app, 0)
            print("before the reader: %d headings, %d links" % (len(silent[0]), len(silent[1])))
            set_status("ScreenReaderEnabled", True)
        headings, links, unnamed = read_window(app, 60)
        print("headings:", headings)
        print("links:", links)
        print("unnamed controls:", unnamed)
        ok = True
        if not any("Oficina Reguladora" in h for h in headings):
            print("the home page's heading did not reach the reader")
            ok = False
        if not any(l.strip() == "Circulares" for l in links):
            print("the home page's links did not reach the reader")
            ok = False
        if unnamed:
            print("controls without a name")
            ok = False
        return ok
    finally:
        viewer.terminate()
        try:
            viewer.wait(10)
        except subprocess.TimeoutExpired:
            viewer.kill()


def main():
    program, demo = sys.argv[1], sys.argv[2]
    display, display_name = start_display()
    os.environ["DISPLAY"] = display_name
    # The viewer must show on that display, whatever platform the caller asked Qt for.
    os.environ.pop("QT_QPA_PLATFORM", None)
    env = dict(os.environ)
    home = tempfile.mkdtemp()
    # The demo's pages, with a user already known, so that no form stands before them.
    collection = os.path.join(home, "coleccion")
    for folder in ("pagina", "circulares", "sistemas"):
        shutil.copytree(os.path.join(demo, folder), os.path.join(collection, folder))
    with open(os.path.join(collection, "legisdis.ini"), "w", encoding="utf-8") as settings:
        settings.write("[user]\nname=Ana\nlastname=Mora\nemail=ana@example.org\n"
                       "[init]\nshow=0\n")
    env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CACHE_HOME=os.path.join(home, "cache"))
    try:
        failed = []
        for name, on_at_start in (("on before the viewer starts", True),
                                  ("turned on while the viewer runs", False)):
            print("== accessibility", name)
            if not check(program, collection, env, on_at_start):
                failed.append(name)
        if failed:
            print("FAILED:", "; ".join(failed))
        return 1 if failed else 0
    finally:
        display.terminate()
        display.wait()


if __name__ == "__main__":
    sys.exit(main())
