#!/usr/bin/python3
"""Drives the real window program the way a screen reader would, through the AT-SPI tree.

Starts a private X server (Xvfb) and a private D-Bus session (whose service files start the
accessibility bus on demand), starts the program on them, presses Go, waits for the status line
to say the run is over, reads the figures a user would read, presses Close and waits for the
program to exit. Prints what it read as one JSON object on stdout; exits 0 when every step
happened, 1 when one failed (the JSON then has "error"), 77 when a tool it needs is missing.

  drive_window.py [STEPS...] PROGRAM [PROGRAM ARGUMENTS...]

Steps, done in this order around the run:
  --setup HOST PORT DIR      before Go: Setup..., type the server, port and download directory, OK
  --remove-pending SUBJECT   during the run: Pending..., pick the article whose subject starts
                             with SUBJECT, press Delete, OK
  --add-groups NAME[,NAME...] before Go: Groups..., type NAME's common start as the filter,
                             Refresh, select each NAME in All Groups and press >>, OK
  --raise-last               with --add-groups, before OK: drag the last active group onto the
                             first with the mouse (xdotool), so that it goes first

Every process it starts shares its process group and is ended on every way out.
"""

import importlib.util
import json
import os
import re
import select
import socket
import signal
import subprocess
import sys
import tempfile
import time

MISSING_TOOL = 77
XVFB = "/usr/bin/Xvfb"
DBUS_DAEMON = "/usr/bin/dbus-daemon"
XDOTOOL = "/usr/bin/xdotool"
# Slow builds (AddressSanitizer) start and close much more slowly than plain ones.
FIND_WINDOW_S = 60
RUN_S = 120
EXIT_S = 45

started = []  # (name, Popen), in start order
result = {}


class Failure(Exception):
    pass


def on_signal(signum, _frame):
    raise Failure(f"stopped by signal {signum}")


def log(text):
    print(f"drive_window: {text}", file=sys.stderr, flush=True)


def start(name, args, **kwargs):
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, **kwargs)
    started.append((name, proc))
    return proc


def read_line(stream, deadline_s, what):
    """A line from a pipe of a child, within the deadline."""
    data = b""
    deadline = time.monotonic() + deadline_s
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            raise Failure(f"no {what} within {deadline_s} s")
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            raise Failure(f"{what}: the program ended without one")
        data += chunk
    return data.decode().strip()


def start_display(errors):
    """Xvfb on a display number it picks itself: free by construction, no guessing."""
    out_r, out_w = os.pipe()
    # -noreset: by default the server resets whenever its last client leaves (the accessibility
    # bus launcher only sets a property and goes), and a program connecting meanwhile is refused.
    start("Xvfb", [XVFB, "-displayfd", str(out_w), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-noreset"], stdout=errors, stderr=errors, pass_fds=[out_w])
    os.close(out_w)
    with os.fdopen(out_r, "rb", buffering=0) as pipe:
        number = read_line(pipe, 30, "display number from Xvfb")
    # Be sure the server takes connections before the program is started.
    path = f"/tmp/.X11-unix/X{number}"

    def answers():
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            try:
                probe.connect(path)
                return True
            except OSError:
                return None

    wait_for(f"the X server on :{number}", 30, answers, interval_s=0.05)
    return ":" + number


def start_session_bus(errors):
    proc = start("dbus-daemon", [DBUS_DAEMON, "--session", "--nofork", "--print-address"],
                 stdout=subprocess.PIPE, stderr=errors)
    return read_line(proc.stdout, 30, "address from dbus-daemon")


def wait_for(what, deadline_s, probe, interval_s=0.2):
    deadline = time.monotonic() + deadline_s
    while True:
        value = probe()
        if value is not None:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {deadline_s} s")
        time.sleep(interval_s)


def find(root, predicate):
    """The first node under root (depth first) for which predicate holds, or None."""
    stack = [root]
    while stack:
        node = stack.pop()
        try:
            if node is not root and predicate(node):
                return node
            stack.extend(reversed([c for c in node if c is not None]))
        except Exception:  # a node that went away while walking: skip it
            continue
    return None


def shown_text(node):
    """What a node shows, or None: its text, its value, or else its description (Qt labels offer
    no text of their own once they carry a name, so a window puts what they show there)."""
    node.clear_cache()
    interfaces = node.get_interfaces()
    if "Text" in interfaces:
        return node.queryText().getText(0, -1)
    if "Value" in interfaces:
        return str(node.queryValue().currentValue)
    return node.description or None


def read(pyatspi, app, name):
    """What the node called name shows. A value takes its caption's name, so the caption label,
    which is the label for another node, is passed over."""
    def is_value(node):
        if node.name != name or shown_text(node) is None:
            return False
        relations = node.getRelationSet()
        return all(r.getRelationType() != pyatspi.RELATION_LABEL_FOR for r in relations)

    app.clear_cache()
    node = find(app, is_value)
    if node is None:
        raise Failure(f'nothing named "{name}" shows a text')
    return node, shown_text(node)


def button(pyatspi, app, name):
    node = find(app, lambda n: n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == name)
    if node is None:
        raise Failure(f'no push button named "{name}"')
    return node


def press(pyatspi, app, name):
    action = button(pyatspi, app, name).queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    index = next((i for i, n in enumerate(names) if n in ("press", "click")), None)
    if index is None:
        raise Failure(f'"{name}" offers no press action, only {names}')
    if not action.doAction(index):
        raise Failure(f'"{name}" refused to be pressed')


def window(pyatspi, app, title):
    """The shown top-level window of app with this title, or None."""
    app.clear_cache()
    for node in app:
        try:
            if node is not None and node.name == title and node.getState().contains(
                    pyatspi.STATE_SHOWING):
                return node
        except Exception:  # the window went away while looked at
            continue
    return None


def top_window(app, node):
    while node.parent is not None and node.parent != app:
        node = node.parent
    return node


def type_into(pyatspi, root, name, text):
    """Replaces the text of the field called name (an editable list's field is its child)."""
    node = find(root, lambda n: n.name == name and n.getRole() != pyatspi.ROLE_LABEL)
    if node is not None and "EditableText" not in node.get_interfaces():
        node = find(node, lambda n: "EditableText" in n.get_interfaces())
    if node is None:
        raise Failure(f'no field named "{name}" to type into')
    node.queryEditableText().setTextContents(text)
    shown = shown_text(node)
    if shown != text:
        raise Failure(f'"{name}" shows "{shown}" after "{text}" was typed')


def click(pyatspi, node):
    """A real click of the mouse in the middle of node, through the X server."""
    x, y, width, height = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, "b1c")


def setup_step(pyatspi, app, host, port, directory):
    press(pyatspi, app, "Setup...")
    sheet = wait_for("the Setup sheet", FIND_WINDOW_S,
                     lambda: window(pyatspi, app, "Quarrymoth Setup"))
    type_into(pyatspi, sheet, "News Server:", host)
    type_into(pyatspi, sheet, "Port:", port)
    type_into(pyatspi, sheet, "Download Directory:", directory)
    press(pyatspi, sheet, "OK")
    wait_for("the Setup sheet to close", FIND_WINDOW_S,
             lambda: None if window(pyatspi, app, "Quarrymoth Setup") else True)


def pending_step(pyatspi, app, subject):
    """Opens Pending..., removes the article with this subject with the Delete key, OK."""
    press(pyatspi, app, "Pending...")

    def list_shown():
        app.clear_cache()
        return find(app, lambda n: n.getRole() == pyatspi.ROLE_TABLE
                    and n.name == "Pending articles")

    table = wait_for("the pending list", FIND_WINDOW_S, list_shown)
    dialog = top_window(app, table)
    cells = table.queryTable()
    subjects = [cells.getAccessibleAt(r, 0).name for r in range(cells.nRows)]
    result["pendingSubjects"] = subjects
    row = next((r for r, s in enumerate(subjects) if s.startswith(subject)), None)
    if row is None:
        raise Failure(f'no pending article "{subject}" in {subjects}')
    result["pendingBeforeRemoval"] = read(pyatspi, dialog, "Pending:")[1]
    click(pyatspi, cells.getAccessibleAt(row, 0))
    wait_for("the clicked article to be selected", 10,
             lambda: True if read(pyatspi, dialog, "Selected:")[1] == "1" else None)
    pyatspi.Registry.generateKeyboardEvent(0xFFFF, None, pyatspi.KEY_SYM)  # Delete
    wait_for("the list to count the removal", 10,
             lambda: True if read(pyatspi, dialog, "Removed:")[1] == "1" else None)
    result["pendingAfterRemoval"] = read(pyatspi, dialog, "Pending:")[1]
    press(pyatspi, dialog, "OK")
    wait_for("the pending list to close", FIND_WINDOW_S,
             lambda: None if list_shown() else True)


def items(pyatspi, root, name):
    """The list called name and the names of its items, in order (its children are its items)."""
    root.clear_cache()
    node = find(root, lambda n: n.getRole() == pyatspi.ROLE_LIST and n.name == name)
    if node is None:
        raise Failure(f'no list named "{name}"')
    node.clear_cache()
    return node, [c.name for c in node if c is not None and c.getRole() == pyatspi.ROLE_LIST_ITEM]


def drag(pyatspi, source, target):
    """Drags source onto the upper part of target with the mouse, in steps a person's hand makes
    (a drag starts only once the pointer has moved a little with the button down)."""
    def point(node, fraction):
        x, y, width, height = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return x + width // 2, y + int(height * fraction)

    (x1, y1), (x2, y2) = point(source, 0.5), point(target, 0.2)
    moves = [["mousemove", str(x1), str(y1 - d)] for d in (0, 4, 8, 16)]
    moves += [["mousemove", str(x2), str(y)] for y in range(y1 - 16, y2 - 1, -4)] + [
        ["mousemove", str(x2), str(y2)]]
    commands = [moves[0], ["sleep", "0.3"], ["mousedown", "1"]]
    for move in moves[1:]:
        commands += [["sleep", "0.05"], move]
    commands += [["sleep", "0.5"], ["mouseup", "1"]]
    subprocess.run([XDOTOOL] + [w for c in commands for w in c], check=True, timeout=30)


def groups_step(pyatspi, app, names, raise_last):
    press(pyatspi, app, "Groups...")
    title = "Quarrymoth Group Select"
    dialog = wait_for("the group selection", FIND_WINDOW_S, lambda: window(pyatspi, app, title))
    type_into(pyatspi, dialog, "Group Filter:", os.path.commonprefix(names))
    press(pyatspi, dialog, "Refresh")
    wait_for("the server's groups in All Groups", RUN_S,
             lambda: True if set(names) <= set(items(pyatspi, dialog, "All Groups:")[1])
             else None)
    for name in names:
        view, shown = items(pyatspi, dialog, "All Groups:")
        click(pyatspi, view[shown.index(name)])
        press(pyatspi, dialog, ">>")
        wait_for(f"{name} in Active Groups", 10,
                 lambda: True if name in items(pyatspi, dialog, "Active Groups:")[1] else None)
    if raise_last:
        view, shown = items(pyatspi, dialog, "Active Groups:")
        drag(pyatspi, view[len(shown) - 1], view[0])
        wait_for("the dragged group to go first", 10,
                 lambda: True if items(pyatspi, dialog, "Active Groups:")[1][0] == names[-1]
                 else None)
    result["activeGroups"] = items(pyatspi, dialog, "Active Groups:")[1]
    press(pyatspi, dialog, "OK")
    wait_for("the group selection to close", FIND_WINDOW_S,
             lambda: None if window(pyatspi, app, title) else True)


def drive(steps, program_args, runtime, errors):
    env = os.environ
    for key in ("NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(key, None)
    env["XDG_RUNTIME_DIR"] = runtime
    env["DISPLAY"] = start_display(errors)
    env["DBUS_SESSION_BUS_ADDRESS"] = start_session_bus(errors)
    env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    env["QT_ACCESSIBILITY"] = "1"
    # Only now: the AT-SPI client finds its bus through the variables above.
    import pyatspi

    began = time.monotonic()
    program = start("program", program_args, stdout=errors, stderr=errors)

    def find_app():
        if program.poll() is not None:
            raise Failure(f"the program ended early with status {program.returncode}")
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == program.pid:
                if find(app, lambda n: n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == "Go"):
                    return app
        return None

    app = wait_for("the program's window in the accessibility tree", FIND_WINDOW_S, find_app,
                   interval_s=0.5)
    result["secondsToWindow"] = round(time.monotonic() - began, 1)
    status, result["statusAtStart"] = read(pyatspi, app, "Status")
    if "setup" in steps:
        setup_step(pyatspi, app, *steps["setup"])
    if "add-groups" in steps:
        groups_step(pyatspi, app, steps["add-groups"][0].split(","), "raise-last" in steps)

    go = button(pyatspi, app, "Go")
    press(pyatspi, app, "Go")
    began = time.monotonic()
    seen = []

    def run_over():
        """The status says so and the window is idle again (Go can be pressed), so that the
        figures read next are the final ones."""
        if program.poll() is not None:
            raise Failure(f"the program ended during the run with status {program.returncode}")
        text = (shown_text(status) or "").strip()
        if not seen or seen[-1] != text:
            seen.append(text)
        if "remove-pending" in steps and "pendingAfterRemoval" not in result and button(
                pyatspi, app, "Pending...").getState().contains(pyatspi.STATE_SENSITIVE):
            pending_step(pyatspi, app, steps["remove-pending"][0])
        idle = go.getState().contains(pyatspi.STATE_SENSITIVE)
        return text if text == "Operation complete" and idle else None

    try:
        wait_for("the status line to read Operation complete", RUN_S, run_over)
    finally:
        result["statusSeen"] = seen[-20:]
    result["secondsToComplete"] = round(time.monotonic() - began, 1)

    result["articlesSaved"] = read(pyatspi, app, "Articles Saved:")[1].strip()
    caption = re.compile(r".+ \(\d+ x \d+\)$")
    frame = find(app, lambda n: n.getRole() in (pyatspi.ROLE_PANEL, pyatspi.ROLE_GROUPING)
                 and caption.match(n.name or ""))
    result["thumbnailCaption"] = frame.name if frame is not None else None

    press(pyatspi, app, "Close")
    began = time.monotonic()
    try:
        result["exitCode"] = program.wait(timeout=EXIT_S)
    except subprocess.TimeoutExpired:
        raise Failure(f"the program did not exit within {EXIT_S} s of Close") from None
    result["secondsToExit"] = round(time.monotonic() - began, 1)


def end_all():
    """Ends what this driver started, newest first, then anything they left in its group."""
    for name, proc in reversed(started):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                log(f"{name} ignored SIGTERM; killing it")
                proc.kill()
                proc.wait()
    # The buses' own helpers (the accessibility bus and its registry) were started by the
    # session bus, not by us, but in our process group; they leave once their bus has gone.
    deadline = time.monotonic() + 5
    while left_in_group() and time.monotonic() < deadline:
        time.sleep(0.1)
    for pid in left_in_group():
        log(f"killing process {pid}, still in the group")
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def left_in_group():
    me, group, found = os.getpid(), os.getpgrp(), []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != me:
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                if int(fields[2]) == group and fields[0] != "Z":
                    found.append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    return found


STEPS = {"--setup": 3, "--remove-pending": 1, "--add-groups": 1, "--raise-last": 0}


def main():
    args, steps = sys.argv[1:], {}
    while args and args[0] in STEPS:
        count = STEPS[args[0]]
        steps[args[0][2:]] = args[1:1 + count]
        args = args[1 + count:]
    if not args or any(len(v) != STEPS["--" + k] for k, v in steps.items()):
        print(__doc__, file=sys.stderr)
        return 2
    tools = (XVFB, DBUS_DAEMON) + ((XDOTOOL,) if "raise-last" in steps else ())
    missing = [t for t in tools if not os.access(t, os.X_OK)]
    if importlib.util.find_spec("pyatspi") is None:
        missing.append("python3-pyatspi")
    if missing:
        log("missing: " + ", ".join(missing))
        return MISSING_TOOL

    os.setpgrp()  # a group of our own: everything started below can be found and ended
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, on_signal)
    code = 0
    with tempfile.TemporaryFile() as errors, tempfile.TemporaryDirectory() as runtime:
        try:
            drive(steps, args, runtime, errors)
        except Exception as error:  # any failure is reported, with what was read so far
            result["error"] = f"{type(error).__name__}: {error}"
            code = 1
        finally:
            for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
                signal.signal(signum, signal.SIG_IGN)
            end_all()
            errors.seek(0)
            tail = errors.read()[-20000:].decode(errors="replace")
            if tail:
                log("output of the started programs (last 20000 bytes):\n" + tail)
    print(json.dumps(result, sort_keys=True))
    return code


if __name__ == "__main__":
    sys.exit(main())
