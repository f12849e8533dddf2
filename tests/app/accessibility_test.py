#!/usr/bin/python3
"""The program's windows as a screen reader reads them.

Starts everything a desktop session would give a screen reader: an X server (Xvfb on a
free display), a private D-Bus session bus and the AT-SPI bus with its registry. Then it
starts the program in its window mode and reads it through the AT-SPI client library, as
Orca does: every control that takes the keyboard focus must have a name and the role a
screen reader announces, and the buttons must work through their accessible action
(Setting, About and Help open their windows). Everything started here is ended here.

Usage: accessibility_test.py PROGRAM
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
MAIN_TITLE_START = "Vantorel Converter   http://"
# How long to wait for something the program does (a window to appear or go) before
# calling it missing; a sanitizer build on a loaded machine can take many seconds to start.
PATIENCE_S = 90


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


class Session:
    """An X server, a session bus and the accessibility bus, ended in reverse order."""

    def __init__(self, scratch):
        self.children = []
        self.env = dict(os.environ)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.env.pop("AT_SPI_BUS_ADDRESS", None)
        self.env["XDG_RUNTIME_DIR"] = os.path.join(scratch, "runtime")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.env["HOME"] = os.path.join(scratch, "home")
        os.makedirs(self.env["HOME"])
        self.scratch = scratch

    def start(self):
        self.env["DISPLAY"] = ":" + self._start_reporting(
            ["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"]
        )
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_reporting(
            ["dbus-daemon", "--session", "--nofork", "--print-address={fd}"]
        )
        # The launcher owns org.a11y.Bus on the session bus and starts the accessibility
        # bus at once; the registry is started on that bus when the first client asks.
        self.children.append(
            subprocess.Popen(
                [AT_SPI_BUS_LAUNCHER, "--launch-immediately"],
                env=self.env,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
        )

    def _start_reporting(self, command):
        """Starts a server that writes one line (its display or address) to a pipe."""
        read_end, write_end = os.pipe()
        command = [part.replace("{fd}", str(write_end)) for part in command]
        child = subprocess.Popen(
            command,
            env=self.env,
            pass_fds=(write_end,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        self.children.append(child)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            line = reader.readline().strip()
        if not line:
            fail("%s did not start" % command[0])
        return line

    def end(self):
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=PATIENCE_S)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        # The accessibility bus and its registry were started by the launcher; as this
        # process is their subreaper, they are ended and reaped here.
        for pid in orphans_of(os.getpid()):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        while True:
            try:
                pid, _ = os.waitpid(-1, 0)
            except ChildProcessError:
                break


def orphans_of(parent):
    """The processes whose parent is `parent`, from /proc."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == parent:
            found.append(int(entry))
    return found


def become_subreaper():
    """Processes started by our children and left behind become ours, not init's."""
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        fail("cannot become the subreaper of the session's processes")


def wait_for(what, probe):
    """Asks `probe` until it answers something; the answer, or a failure naming `what`."""
    deadline = time.monotonic() + PATIENCE_S
    while time.monotonic() < deadline:
        answer = probe()
        if answer:
            return answer
        time.sleep(0.1)
    fail("no %s after %d s" % (what, PATIENCE_S))


def children(node):
    try:
        return [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except Exception:  # a window that went while being read
        return []


def walk(node):
    yield node
    for child in children(node):
        if child is not None:
            yield from walk(child)


def spoken_name(node):
    """What a screen reader announces as the control's name: the label tied to it when
    there is one (lists that take typing read their own name as their value), else its
    own name."""
    for relation in node.get_relation_set() or []:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            labels = [relation.get_target(i) for i in range(relation.get_n_targets())]
            text = " ".join(label.get_name() for label in labels if label is not None)
            if text.strip():
                return text.strip().rstrip(":")
    return node.get_name()


def describe(node):
    return "%s %r" % (node.get_role_name(), node.get_name())


def window_named(app, start):
    for window in children(app):
        if window is not None and window.get_name().startswith(start):
            state = window.get_state_set()
            if state.contains(Atspi.StateType.SHOWING):
                return window
    return None


def focusable_controls(window):
    found = []
    for node in walk(window):
        state = node.get_state_set()
        if state.contains(Atspi.StateType.FOCUSABLE) and state.contains(Atspi.StateType.SHOWING):
            found.append(node)
    return found


def check_window(window, expected):
    """Every focusable control has a name; each expected (name, role) is there."""
    problems = []
    controls = focusable_controls(window)
    for control in controls:
        if not spoken_name(control).strip():
            problems.append("a focusable %s without a name" % control.get_role_name())
    seen = {(spoken_name(c), c.get_role()) for c in walk(window)}
    for name, role in expected:
        if (name, role) not in seen:
            named = [describe(c) for c in walk(window) if spoken_name(c) == name]
            problems.append(
                "no %s named %r (found: %s)" % (Atspi.Role(role).value_nick, name, named or "none")
            )
    if problems:
        fail("in %r:\n  " % window.get_name() + "\n  ".join(problems))
    return controls


def press(window, name):
    """Presses a button through its accessible action, as a screen reader user does."""
    for node in walk(window):
        if node.get_name() == name and node.get_role() == Atspi.Role.PUSH_BUTTON:
            if node.get_n_actions() == 0:
                fail("the button %r offers no action" % name)
            node.do_action(0)
            return
    fail("no button %r to press" % name)




def expectations():
    button, text, check = Atspi.Role.PUSH_BUTTON, Atspi.Role.TEXT, Atspi.Role.CHECK_BOX
    main = [
        ("GO", button),
        ("Exit", button),
        ("Add a photo folder", button),
        ("Please select the photos directory", text),
        ("Remove", button),
        ("Remove all", button),
        ("Please select a background music", text),
        ("Choose the music file", button),
        ("Please select the output directory", text),
        ("Choose where to save the movie", button),
        ("Up", button),
        ("Down", button),
        ("Add effect to move the photos", check),
        ("Setting", button),
        ("Help", button),
        ("About", button),
        ("Progress", Atspi.Role.PROGRESS_BAR),
    ]
    setting = [
        ("OK", button),
        ("Cancel", button),
        ("Show time per picture", Atspi.Role.COMBO_BOX),
        ("Video Size", Atspi.Role.COMBO_BOX),
        ("Play whole music", check),
        ("High-quality Movie", check),
    ]
    about = [("OK", button)]
    guide = [
        ("Contents", Atspi.Role.PAGE_TAB),
        ("Index", Atspi.Role.PAGE_TAB),
        ("Search", Atspi.Role.PAGE_TAB),
        ("Type in the words to search for", text),
        ("List Topics", button),
    ]
    return main, setting, about, guide


def photo_list_columns(window):
    for node in walk(window):
        if node.get_name() == "Selected Files" and node.get_child_count() > 0:
            return [
                c.get_name()
                for c in children(node)
                if c is not None and c.get_role() == Atspi.Role.TABLE_COLUMN_HEADER
            ]
    return []


def showing_alert(app):
    for window in children(app):
        if window is not None and window.get_role() == Atspi.Role.ALERT:
            if window.get_state_set().contains(Atspi.StateType.SHOWING):
                return window
    return None


def answer_start_up_questions(app, program_process):
    """The first start asks about the preferred codec: read the box as a screen reader
    does (caption, message, buttons) and answer No through the button's action."""
    asked = 0
    while True:
        if program_process.poll() is not None:
            fail("the program ended early with status %d" % program_process.returncode)
        main = window_named(app, MAIN_TITLE_START)
        if main is not None:
            return main, asked
        alert = showing_alert(app)
        if alert is None:
            time.sleep(0.1)
            continue
        buttons = [n.get_name() for n in walk(alert) if n.get_role() == Atspi.Role.PUSH_BUTTON]
        check_window(alert, [(b, Atspi.Role.PUSH_BUTTON) for b in buttons])
        if not alert.get_name() or not alert.get_description():
            fail("a message box reads as %r / %r" % (alert.get_name(), alert.get_description()))
        press(alert, "No" if "No" in buttons else "OK")
        wait_for("message box to close", lambda: not alert.get_state_set().contains(
            Atspi.StateType.SHOWING))
        asked += 1


def run_checks(program_process):
    main_expected, setting_expected, about_expected, guide_expected = expectations()
    desktop = Atspi.get_desktop(0)

    def find_app():
        if program_process.poll() is not None:
            fail("the program ended early with status %d" % program_process.returncode)
        for app in children(desktop):
            if app is not None and app.get_name() == "vantorel":
                return app
        return None

    app = wait_for("program on the accessibility bus", find_app)
    main, asked = answer_start_up_questions(app, program_process)
    controls = check_window(main, main_expected)
    columns = photo_list_columns(main)
    if columns != ["File Name", "Create Date", "Path"]:
        fail("the photo list's columns read as %r" % columns)
    checked = len(controls)

    for button, title, expected, closer in (
        ("Setting", "Setting", setting_expected, "Cancel"),
        ("About", "About Vantorel Converter", about_expected, "OK"),
    ):
        press(main, button)
        dialog = wait_for(
            "%r window after pressing %r" % (title, button), lambda: window_named(app, title)
        )
        checked += len(check_window(dialog, expected))
        press(dialog, closer)
        wait_for("%r window to close" % title, lambda: not window_named(app, title))

    press(main, "Help")
    guide = wait_for(
        "guide after pressing 'Help'", lambda: window_named(app, "Vantorel Converter Help")
    )
    checked += len(check_window(guide, guide_expected))
    # Exit through its action too: the program ends as after a click, the guide with it.
    press(main, "Exit")
    try:
        status = program_process.wait(timeout=PATIENCE_S)
    except subprocess.TimeoutExpired:
        fail("the program did not end after pressing 'Exit'")
    if status != 0:
        fail("the program ended with status %d after pressing 'Exit'" % status)
    print(
        "%d focusable controls named in 4 windows and %d start-up boxes, read through AT-SPI"
        % (checked, asked)
    )


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    for tool in ("Xvfb", "dbus-daemon", AT_SPI_BUS_LAUNCHER):
        if not shutil.which(tool) and not os.access(tool, os.X_OK):
            fail("%s is missing; scripts/install-deps.sh installs it" % tool)
    become_subreaper()
    scratch = tempfile.mkdtemp(prefix="vantorel-a11y-")
    session = Session(scratch)
    program_process = None
    try:
        session.start()
        # The client library finds the accessibility bus through these.
        os.environ["DISPLAY"] = session.env["DISPLAY"]
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = session.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["XDG_RUNTIME_DIR"] = session.env["XDG_RUNTIME_DIR"]
        global Atspi
        import gi

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi

        Atspi.init()
        env = dict(session.env)
        env.update(
            {
                "QT_QPA_PLATFORM": "xcb",
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                "QT_ACCESSIBILITY": "1",
                "VANTOREL_REGISTRY_DIR": os.path.join(scratch, "registry"),
                "VANTOREL_SYSTEM_DIR": os.path.join(scratch, "system"),
                "VANTOREL_WINDOWS_DIR": session.env["HOME"] + "/",
                "XDG_CONFIG_HOME": os.path.join(scratch, "config"),
                "XDG_DATA_HOME": os.path.join(scratch, "data"),
            }
        )
        program_process = subprocess.Popen([program], env=env, cwd=scratch)
        run_checks(program_process)
    finally:
        if program_process is not None and program_process.poll() is None:
            program_process.send_signal(signal.SIGTERM)
            try:
                program_process.wait(timeout=PATIENCE_S)
            except subprocess.TimeoutExpired:
                program_process.kill()
                program_process.wait()
        session.end()
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
