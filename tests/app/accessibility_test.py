#!/usr/bin/python3
"""Usage: accessibility_test.py PROGRAM

The program's windows as a screen reader reads them through AT-SPI, on an X server, session
bus and accessibility bus of its own: every focusable control must have a name and the role
a screen reader announces, and buttons are pressed through their accessible action."""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
MAIN_TITLE = "Vantorel Converter   http://"
PATIENCE_S = 90  # a sanitizer build on a loaded machine can take long to show a window


def fail(message):
    sys.exit("FAIL: " + message)


def start(command, env, started):
    """Starts a server that writes one line (its display or address) to the fd in {fd}."""
    read_end, write_end = os.pipe()
    command = [part.replace("{fd}", str(write_end)) for part in command]
    started.append(subprocess.Popen(command, env=env, pass_fds=(write_end,),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    os.close(write_end)
    with os.fdopen(read_end) as reader:
        return reader.readline().strip() or fail("%s did not start" % command[0])


def end_all(started):
    """Ends our children and, as their subreaper, what they left behind (the buses)."""
    for child in reversed(started):
        child.terminate()
        try:
            child.wait(timeout=PATIENCE_S)
        except subprocess.TimeoutExpired:
            child.kill()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as stat:
                if int(stat.read().rsplit(")", 1)[1].split()[1]) == os.getpid():
                    os.kill(int(pid), signal.SIGTERM)
        except OSError:
            pass
    while True:
        try:
            os.waitpid(-1, 0)
        except ChildProcessError:
            return


def wait_for(what, probe):
    deadline = time.monotonic() + PATIENCE_S
    while not (answer := probe()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return answer or fail("no %s after %d s" % (what, PATIENCE_S))


def kids(node):
    try:  # a window may go while being read
        return [k for k in map(node.get_child_at_index, range(node.get_child_count())) if k]
    except Exception:
        return []


def walk(node):
    yield node
    for child in kids(node):
        yield from walk(child)


def has(node, state):
    return node.get_state_set().contains(state)


def spoken_name(node):
    """The label tied to the control when there is one (lists that take typing read their
    own name as their value), else its own name."""
    for relation in node.get_relation_set() or []:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            labels = map(relation.get_target, range(relation.get_n_targets()))
            text = " ".join(label.get_name() for label in labels if label).strip()
            if text:
                return text.rstrip(":")
    return node.get_name()


def window(app, title_start, role=None):
    return next((w for w in kids(app) if w.get_name().startswith(title_start)
                 and has(w, Atspi.StateType.SHOWING) and role in (None, w.get_role())), None)


def check_window(win, expected):
    """Every focusable control has a name; each expected (name, role) is there."""
    focusable = [n for n in walk(win) if has(n, Atspi.StateType.SHOWING)
                 and has(n, Atspi.StateType.FOCUSABLE)]
    problems = ["a focusable %s without a name" % c.get_role_name()
                for c in focusable if not spoken_name(c).strip()]
    seen = {(spoken_name(n), n.get_role()) for n in walk(win)}
    problems += ["no %s named %r" % (Atspi.Role(role).value_nick, name)
                 for name, role in expected if (name, role) not in seen]
    if problems:
        fail("in %r:\n  " % win.get_name() + "\n  ".join(problems))
    return len(focusable)


def press(win, name):
    """Presses a button through its accessible action, as a screen reader user does."""
    button = next((n for n in walk(win) if n.get_name() == name
                   and n.get_role() == Atspi.Role.PUSH_BUTTON), None) or fail("no button %r" % name)
    if button.get_n_actions() == 0 or not button.do_action(0):
        fail("the button %r offers no action" % name)


def answer_start_up_boxes(app, alive):
    """The first start asks about the codec: each box must read as caption, message and
    named buttons, and is answered No through the button's action. Returns how many."""
    asked = 0
    while alive() and not window(app, MAIN_TITLE):
        alert = window(app, "", Atspi.Role.ALERT)
        if alert is None:
            time.sleep(0.1)
            continue
        buttons = [n.get_name() for n in walk(alert) if n.get_role() == Atspi.Role.PUSH_BUTTON]
        check_window(alert, [(name, Atspi.Role.PUSH_BUTTON) for name in buttons])
        if not alert.get_name() or not alert.get_description():
            fail("a message box reads as %r / %r" % (alert.get_name(), alert.get_description()))
        press(alert, "No" if "No" in buttons else "OK")
        wait_for("message box to close", lambda: not has(alert, Atspi.StateType.SHOWING))
        asked += 1
    return asked


def run_checks(program):
    R = Atspi.Role
    b, t, c, h = R.PUSH_BUTTON, R.TEXT, R.CHECK_BOX, R.TABLE_COLUMN_HEADER
    main_expected = [(n, b) for n in ("GO", "Exit", "Add a photo folder", "Remove", "Remove all",
                                      "Choose the music file", "Choose where to save the movie",
                                      "Up", "Down", "Setting", "Help", "About")] + [
        ("Please select the photos directory", t), ("Please select a background music", t),
        ("Please select the output directory", t), ("Add effect to move the photos", c),
        ("Progress", R.PROGRESS_BAR), ("File Name", h), ("Create Date", h), ("Path", h)]
    windows = [("Setting", "Setting", "Cancel", [("OK", b), ("Cancel", b),
                ("Show time per picture", R.COMBO_BOX), ("Video Size", R.COMBO_BOX),
                ("Play whole music", c), ("High-quality Movie", c)]),
               ("About", "About Vantorel Converter", "OK", [("OK", b)]),
               ("Help", "Vantorel Converter Help", None, [("Contents", R.PAGE_TAB),
                ("Index", R.PAGE_TAB), ("Search", R.PAGE_TAB),
                ("Type in the words to search for", t), ("List Topics", b)])]

    def alive():
        if program.poll() is not None:
            fail("the program ended early with status %d" % program.returncode)
        return True

    app = wait_for("program on the accessibility bus", lambda: alive() and next(
        (a for a in kids(Atspi.get_desktop(0)) if a.get_name() == "vantorel"), None))
    asked = answer_start_up_boxes(app, alive)
    main = window(app, MAIN_TITLE)
    checked = check_window(main, main_expected)
    for button, title, closer, expected in windows:
        press(main, button)
        checked += check_window(wait_for("%r window" % title, lambda: window(app, title)),
                                expected)
        if closer:
            press(window(app, title), closer)
            wait_for("%r window to close" % title, lambda: not window(app, title))
    # Exit through its action too: the program ends as after a click, the guide with it.
    press(main, "Exit")
    if program.wait(timeout=PATIENCE_S) != 0:
        fail("the program ended with status %d after pressing 'Exit'" % program.returncode)
    print("%d focusable controls named in 4 windows and %d start-up boxes" % (checked, asked))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    # What our children leave behind becomes ours to end, not init's.
    if ctypes.CDLL(None).prctl(36, 1, 0, 0, 0) != 0:  # PR_SET_CHILD_SUBREAPER
        fail("cannot become the subreaper of the session's processes")
    scratch = tempfile.mkdtemp(prefix="vantorel-a11y-")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS")}
    env.update(XDG_RUNTIME_DIR=scratch + "/runtime", HOME=scratch + "/home")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    os.makedirs(env["HOME"])
    started = []
    try:
        env["DISPLAY"] = ":" + start(["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], env, started)
        env["DBUS_SESSION_BUS_ADDRESS"] = start(
            ["dbus-daemon", "--session", "--nofork", "--print-address={fd}"], env, started)
        # The launcher owns org.a11y.Bus and starts the accessibility bus at once; the client
        # library finds it through the session bus.
        started.append(subprocess.Popen([LAUNCHER, "--launch-immediately"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
            os.environ[name] = env[name]
        global Atspi
        import gi

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi

        Atspi.init()
        env.update(QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_ACCESSIBILITY="1", VANTOREL_REGISTRY_DIR=scratch + "/registry",
                   VANTOREL_SYSTEM_DIR=scratch + "/system", VANTOREL_WINDOWS_DIR=env["HOME"] + "/",
                   XDG_CONFIG_HOME=scratch + "/config", XDG_DATA_HOME=scratch + "/data")
        started.append(subprocess.Popen([os.path.abspath(sys.argv[1])], env=env, cwd=scratch))
        run_checks(started[-1])
    except FileNotFoundError as missing:
        fail("%s is missing; scripts/install-deps.sh installs it" % missing.filename)
    finally:
        end_all(started)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
