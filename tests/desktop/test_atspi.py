#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The main window as a screen reader finds it, over AT-SPI.

The built program runs on a private X server (Xvfb, Qt's xcb platform) with a
session bus and an accessibility bus of its own (dbus-daemon and
at-spi-bus-launcher), a private HOME and XDG_RUNTIME_DIR, and the private sound
server the CTest fixture started (PULSE_SERVER). This script reaches it the way
a screen reader does, through libatspi (gir1.2-atspi-2.0 with python3-gi, so
Debian's /usr/bin/python3), and checks:

  names      every object has a role and every control a name; the controls
             of the table below (with their actions and ranges) and the menus
             are all there, shown and enabled
  presets    a preset button's action opens its voice (the title names it)
  effects    each effect button's Toggle action turns it on (checked and
             pressed) or off, and a second one back, and the Options menu
             follows
  play       Play's action plays the voice: silence on the default sink's
             monitor before, the voice while Play is down, silence again once
             a second action has put it up
  input      the input button's action steps through the recording inputs and
             comes back to the first
  record     Record's action records from the line input: the level meter
             shows its level (half of full scale), and a second action stops it

The sound server's defaults and volumes are put back as its fixture made them
before and after, as every sound test does. A missing piece (a command, the
GObject bindings, the program, the sound server) fails the test and says what
is missing.
"""

import array
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

EFFECTS = [  # (button, its Options menu item)
    ("Echo", "Echo"), ("Chorus", "Chorus"), ("Flange", "Flange"), ("Fade In", "Fade In"),
    ("Fade Out", "Fade Out"), ("Bass Only", "Bass Only"), ("Robot Voice", "Robotvoice"),
    ("Backward", "Backward"), ("Slow Monster", "Slow Monster"), ("Fast Squeaker", "Fast Squeaker"),
    ("Treble Only", "Treble Only"), ("Sweep Up", "Sweep Up"), ("Sweep Down", "Sweep Down"),
]
LINE_INPUT = "Glimmer-Line"  # the private servers' default source, as the input label names it
# What the window shows a screen reader: name (without the spaces around it),
# role, and the actions a button offers first. Qt 6.4 calls a checkable button
# a push button with a checked state; later Qt calls it a toggle button.
TOGGLE, PUSH = ("push button", "toggle button"), ("push button",)
CONTROLS = [
    ("Play", TOGGLE, ["Press", "Toggle"]), ("Record", TOGGLE, ["Press", "Toggle"]),
    ("Next recording input", PUSH, ["Press"]),
    ("Preset voice 1", PUSH, ["Press"]), ("Preset voice 2", PUSH, ["Press"]), ("Preset voice 3", PUSH, ["Press"]),
    *[(button, TOGGLE, ["Press", "Toggle"]) for button, _ in EFFECTS],
    ("Record", ("panel",), []), ("Record volume", ("slider",), []),
    ("Play", ("panel",), []), ("Play volume", ("slider",), []),
    ("Pitch", ("slider",), []), ("Helium Breath", ("label",), []), ("Sulphur Breath", ("label",), []),
    ("Level", ("progress bar",), []), ("Waveform", ("image",), []),
    ("POS: 00:00:00", ("label",), []), (LINE_INPUT, ("label",), []),
]
MENUS = {
    "File": ["New", "Open...", "Save", "Save As...", "Export", "Exit"],
    "Edit": ["Undo", "Redo", "Cut", "Crop to Selection", "Trim Silence", "Normalise", "Select All",
             "Edit Voice..."],
    "Options": [item for _, item in EFFECTS] + ["Loop", "Live Voice", "Preferences..."],
    "Help": ["Help Topics", "How To Use Help", "About"],
}
RANGES = {"Record volume": 255, "Play volume": 255, "Pitch": 12, "Level": 100}  # name: maximum (minimum 0)
RATE = 22050  # the private servers' speaker: mono 16-bit

failures = []
group = "start"


def expect(ok, what):
    if not ok:
        failures.append(f"{group}: {what}")
    return ok


def wait_for(predicate, seconds, step=0.05):
    """Asks predicate until it answers something true or seconds have passed;
    returns its last answer."""
    end = time.monotonic() + seconds
    while True:
        answer = predicate()
        if answer or time.monotonic() > end:
            return answer
        time.sleep(step)


def missing_pieces():
    missing = [f"{command} ({package})" for command, package in
               [("Xvfb", "xvfb"), ("dbus-daemon", "dbus-daemon"), ("parec", "pulseaudio-utils"),
                ("pactl", "pulseaudio-utils")] if not shutil.which(command)]
    if not os.access(LAUNCHER, os.X_OK):
        missing.append(f"{LAUNCHER} (at-spi2-core)")
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401
    except (ImportError, ValueError) as error:
        missing.append(f"libatspi for {sys.executable} (gir1.2-atspi-2.0, python3-gi): {error}")
    for name in ("glimmerbox", "SF3.WAV"):
        if not os.path.isfile(os.path.join(BUILD, name)):
            missing.append(f"{BUILD}/{name} (build the project)")
    for variable in ("PULSE_SERVER", "PULSE_CLIENTCONFIG"):
        if not os.environ.get(variable):
            missing.append(f"{variable} (run through ctest, which starts the private sound server)")
    return missing


LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
BUILD = os.environ.get("GLIMMER_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))


# ---------------------------------------------------------------------------
# The private desktop: X server, session bus, accessibility bus, program

class Desktop:
    """A folder for everything, the environment pointed into it, and the
    servers started there (start_session) and stopped again (stop)."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="gbxatspi")
        self.processes = []  # (name, Popen), each in a process group of its own
        runtime = os.path.join(self.work, "runtime")
        os.mkdir(runtime, 0o700)
        # Nothing reaches the session this runs in: its buses, display,
        # settings and files are all replaced (the take Record makes goes to
        # TMPDIR, and goes with the folder).
        for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
                     "SESSION_MANAGER", "PULSE_SINK", "PULSE_SOURCE", "QT_QPA_PLATFORM"):
            os.environ.pop(name, None)
        for name, folder in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                             ("XDG_CACHE_HOME", "cache"), ("XDG_STATE_HOME", "state"), ("TMPDIR", "tmp")):
            os.makedirs(os.path.join(self.work, folder))
            os.environ[name] = os.path.join(self.work, folder)
        os.environ["XDG_RUNTIME_DIR"] = runtime
        os.environ["GSETTINGS_BACKEND"] = "memory"

    def start_session(self):
        runtime = os.environ["XDG_RUNTIME_DIR"]
        # -noreset: otherwise the server starts over each time its last client
        # leaves (the bus launcher does, once it has marked the root window),
        # and turns away whoever connects meanwhile.
        display = self.start_reporting("Xvfb", ["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24",
                                                "-nolisten", "tcp", "-noreset"])
        os.environ["DISPLAY"] = ":" + display
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.start_reporting(
            "dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--address=unix:path=" + runtime + "/bus",
                            "--print-address={fd}"])
        self.start("at-spi-bus-launcher", [LAUNCHER, "--launch-immediately"])
        # Once the launcher holds its name, the program and this script both
        # find the accessibility bus through it (and none is started twice).
        from gi.repository import Gio, GLib
        bus = Gio.DBusConnection.new_for_address_sync(
            os.environ["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        owned = wait_for(lambda: bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "NameHasOwner",
                                               GLib.Variant("(s)", ("org.a11y.Bus",)), None,
                                               Gio.DBusCallFlags.NONE, 2000, None).unpack()[0], 10)
        if not owned:
            raise RuntimeError("at-spi-bus-launcher did not take org.a11y.Bus within 10 s")

    def log(self, name):
        return os.path.join(self.work, name + ".log")

    def start(self, name, argv, pass_fds=(), **options):
        with open(self.log(name), "wb") as log:
            process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                       pass_fds=pass_fds, start_new_session=True, **options)
        self.processes.append((name, process))
        return process

    def start_reporting(self, name, argv):
        """Starts a server that writes where to reach it on a descriptor
        ({fd} in argv); returns what it wrote."""
        reading, writing = os.pipe()
        process = self.start(name, [a.replace("{fd}", str(writing)) for a in argv], pass_fds=(writing,))
        os.close(writing)
        # Read up to the end of the line: Xvfb writes the newline apart, and
        # ends if it finds nobody reading.
        answer = b""
        end = time.monotonic() + 20
        while not answer.endswith(b"\n") and select.select([reading], [], [], max(0, end - time.monotonic()))[0]:
            chunk = os.read(reading, 1000)
            if not chunk:
                break
            answer += chunk
        os.close(reading)
        answer = answer.decode().strip() if answer.endswith(b"\n") else ""
        if not answer:
            raise RuntimeError(f"{name} did not start (status {process.poll()}): {self.tail(name)}")
        return answer

    def tail(self, name, lines=30):
        try:
            with open(self.log(name), errors="replace") as log:
                return "".join(log.readlines()[-lines:])
        except OSError:
            return ""

    def stop(self):
        # The program first, then the buses, then the display; each with its
        # whole group (the launcher's accessibility bus and registry daemon).
        for name, process in reversed(self.processes):
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()


# ---------------------------------------------------------------------------
# Reading and working the window through AT-SPI

def children(o):
    return [c for c in (o.get_child_at_index(i) for i in range(o.get_child_count())) if c is not None]


def walk(o, path=""):
    """Every object from o down, each with its path of roles."""
    path = f"{path}/{o.get_role_name()}"
    yield o, path
    for child in children(o):
        yield from walk(child, path)


def has(o, state):
    return o.get_state_set().contains(state)


def action_names(o):
    # get_action_name is marked deprecated for get_name, which this libatspi's
    # bindings do not offer.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return [Atspi.Action.get_action_name(o, i) for i in range(Atspi.Action.get_n_actions(o))]


def act(o, name):
    names = action_names(o)
    if not expect(name in names, f"{o.get_name()!r} has no {name!r} action (it has {names})"):
        return False
    return expect(Atspi.Action.do_action(o, names.index(name)), f"{o.get_name()!r}: {name!r} was refused")


def find_program(pid):
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if app.get_process_id() == pid:
            return app
    return None


def main_window(app):
    for o in children(app):
        if o.get_role_name() == "frame" and o.get_name().startswith("Glimmerbox") and has(o, Atspi.StateType.SHOWING):
            return o
    return None


def controls(window):
    """{(name, role): [objects]} of the whole window."""
    found = {}
    for o, _ in walk(window):
        found.setdefault((o.get_name().strip(), o.get_role_name()), []).append(o)
    return found


def one(found, name, *roles):
    matches = [o for role in roles for o in found.get((name, role), [])]
    return matches[0] if len(matches) == 1 else None


class MonitorRecording:
    """The default sink's monitor, recorded into a file from now on."""

    def __init__(self, folder):
        sink = subprocess.run(["pactl", "get-default-sink"], capture_output=True, text=True, timeout=10).stdout.strip()
        self.file = os.path.join(folder, "monitor.raw")
        with open(self.file, "wb") as out:
            self.process = subprocess.Popen(["parec", f"--device={sink}.monitor", "--raw", "--format=s16le",
                                             f"--rate={RATE}", "--channels=1", "--latency-msec=50"], stdout=out)

    def count(self):
        return os.path.getsize(self.file) // 2

    def stop(self):
        self.process.terminate()
        self.process.wait(5)
        with open(self.file, "rb") as f:
            data = f.read()
        return array.array("h", data[:len(data) // 2 * 2])


def reset_server():
    """Puts the sound server's defaults and volumes back as its fixture made
    them, as every sound test does before and after its work: a test before
    this one may have left another input chosen."""
    for command in (["info"], ["set-default-sink", "glimmer_speaker"], ["set-default-source", "glimmer_line"],
                    *[[f"set-{kind}-volume", device, "65536"] for kind, device in
                      (("sink", "glimmer_speaker"), ("sink", "glimmer_headphones"), ("source", "glimmer_line"),
                       ("source", "glimmer_mic"), ("source", "glimmer_sine"))]):
        done = subprocess.run(["pactl", *command], capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise RuntimeError(f"pactl {' '.join(command)} failed: {done.stderr.strip()}")


def loudness(samples):
    """The peak, and how many samples are at least 1000 from silence."""
    return max((abs(s) for s in samples), default=0), sum(1 for s in samples if abs(s) >= 1000)


# ---------------------------------------------------------------------------
# The checks, in the order a user might go

def check_names(window, found):
    expect(window.get_name() == "Glimmerbox - New File", f"the window is named {window.get_name()!r}")
    # Containers that carry no meaning of their own need no name: Qt's fillers
    # (plain widgets), the frame of a QFrame, the menu bar, the popup menus
    # (their items are named) and separators.
    unnamed = {"filler", "frame", "menu bar", "popup menu", "separator"}
    for o, path in walk(window):
        role = o.get_role()
        expect(role not in (Atspi.Role.INVALID, Atspi.Role.UNKNOWN), f"{path} {o.get_name()!r} has no role")
        expect(o.get_role_name() in unnamed or o.get_name().strip(), f"{path} has no name")

    for name, roles, actions in CONTROLS:
        o = one(found, name, *roles)
        if not expect(o, f"no single {name!r} with role {' or '.join(roles)}"):
            continue
        expect(has(o, Atspi.StateType.SHOWING) and has(o, Atspi.StateType.ENABLED), f"{name!r} is not shown enabled")
        if actions:
            expect(action_names(o)[:len(actions)] == actions, f"{name!r} offers {action_names(o)}, not {actions}")
            expect(not has(o, Atspi.StateType.CHECKED), f"{name!r} starts checked")
        if name in RANGES:
            span = (Atspi.Value.get_minimum_value(o), Atspi.Value.get_maximum_value(o))
            expect(span == (0, RANGES[name]), f"{name!r} runs over {span}, not (0, {RANGES[name]})")

    bar = one(found, "", "menu bar")
    if not expect(bar, "no single menu bar"):
        return
    menus = children(bar)
    expect([m.get_name() for m in menus] == list(MENUS), f"the menus are {[m.get_name() for m in menus]}")
    for menu in menus:
        items = [i.get_name() for popup in children(menu) for i in children(popup) if i.get_role_name() == "menu item"]
        expect(items == MENUS.get(menu.get_name()), f"menu {menu.get_name()!r} holds {items}")
        expect(menu.get_role_name() == "menu item" and "ShowMenu" in action_names(menu),
               f"menu {menu.get_name()!r} cannot be opened")


def check_presets(window, found):
    act(one(found, "Preset voice 3", *PUSH), "Press")
    expect(wait_for(lambda: window.get_name() == "Glimmerbox - SF3.WAV", 10),
           f"the window is named {window.get_name()!r} after pressing preset voice 3")


def check_effects(window, found):
    options = next(m for m in children(one(found, "", "menu bar")) if m.get_name() == "Options")
    items = {i.get_name(): i for i in children(children(options)[0])}
    for button_name, item_name in EFFECTS:
        button = one(found, button_name, *TOGGLE)
        item = items[item_name]
        # A preset voice comes with its own effects: each button flips from
        # where the voice left it, and back.
        was = has(button, Atspi.StateType.CHECKED)
        expect(has(item, Atspi.StateType.CHECKED) == was, f"{button_name!r} and Options, {item_name!r} disagree")
        for on in (not was, was):
            act(button, "Toggle")
            shown = wait_for(lambda: has(button, Atspi.StateType.CHECKED) == on and
                             has(button, Atspi.StateType.PRESSED) == on, 2)
            expect(shown, f"{button_name!r} is {'not ' if on else ''}checked after its Toggle action")
            expect(wait_for(lambda: has(item, Atspi.StateType.CHECKED) == on, 2),
                   f"Options, {item_name!r} is {'not ' if on else ''}checked after {button_name!r} was toggled")


def check_play(window, found, folder):
    play = one(found, "Play", *TOGGLE)
    monitor = MonitorRecording(folder)
    try:
        expect(wait_for(lambda: monitor.count() >= RATE * 0.3, 5), "the monitor delivers nothing")
        started = monitor.count()
        act(play, "Press")
        expect(wait_for(lambda: has(play, Atspi.StateType.CHECKED), 5), "Play is not down after its action")
        wait_for(lambda: monitor.count() >= started + RATE * 1.2, 5)
        act(play, "Press")
        expect(wait_for(lambda: not has(play, Atspi.StateType.CHECKED), 5), "Play is still down after a second action")
        stopped = monitor.count()
        wait_for(lambda: monitor.count() >= stopped + RATE * 0.8, 5)
    finally:
        samples = monitor.stop()
    # The voice (SF3) is loud all through from 0.6 s to 3 s, so 1.2 s of it is
    # heard, and the half second that follows the stop would be as well.
    before, during, after = samples[:started], samples[started:stopped], samples[stopped + RATE * 3 // 10:]
    print(f"play: the monitor's peak {loudness(before)[0]} before, {loudness(during)[0]} while Play was down, "
          f"{loudness(after)[0]} after")
    expect(loudness(before)[0] <= 16, f"the monitor was not silent before Play (peak {loudness(before)[0]})")
    peak, loud = loudness(during)
    expect(peak >= 8000 and loud >= RATE // 5,
           f"the voice was not heard while Play was down (peak {peak}, {loud} of {len(during)} samples loud)")
    expect(len(after) >= RATE // 4 and loudness(after)[0] <= 16,
           f"the monitor is not silent once Play is up ({len(after)} samples, peak {loudness(after)[0]})")


def check_input(window, found):
    button = one(found, "Next recording input", *PUSH)
    label = one(found, LINE_INPUT, "label")
    if not expect(button and label, "no input button or input label"):
        return
    seen = [label.get_name()]
    for _ in range(5):
        act(button, "Press")
        wait_for(lambda: label.get_name() != seen[-1], 3)
        seen.append(label.get_name())
        if seen[-1] == LINE_INPUT:
            break
    expect(len(seen) >= 3 and len(set(seen)) == len(seen) - 1 and seen[-1] == LINE_INPUT,
           f"the input button stepped through {seen}")


def check_record(window, found):
    record = one(found, "Record", *TOGGLE)
    level = one(found, "Level", "progress bar")
    expect(Atspi.Value.get_current_value(level) == 0, "the level meter is not at rest before recording")
    act(record, "Press")
    expect(wait_for(lambda: has(record, Atspi.StateType.CHECKED), 5), "Record is not down after its action")
    # The line input is a steady sine at half of full scale.
    shown = []
    wait_for(lambda: shown.append(Atspi.Value.get_current_value(level)) or 45 <= shown[-1] <= 55, 5)
    print(f"record: the level meter shows {shown[-1]} %")
    expect(45 <= shown[-1] <= 55, f"the level meter shows {sorted(set(shown))} while recording the line input")
    act(record, "Press")
    expect(wait_for(lambda: not has(record, Atspi.StateType.CHECKED), 5), "Record is still down after a second action")
    expect(wait_for(lambda: Atspi.Value.get_current_value(level) == 0, 5), "the level meter stays up after recording")


def main():
    global group, Atspi
    missing = missing_pieces()
    if missing:
        print("FAILED: missing " + "; ".join(missing), file=sys.stderr)
        return 1
    started = time.monotonic()
    desktop = Desktop()
    try:
        desktop.start_session()
        reset_server()
        from gi.repository import Atspi  # only now: libatspi finds the buses through the environment
        # A call that gets no answer is a failure, not a wait of 25 s.
        Atspi.set_timeout(10000, 20000)
        program = desktop.start("glimmerbox", [os.path.join(BUILD, "glimmerbox")], cwd=desktop.work,
                                env=dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        app = wait_for(lambda: program.poll() is not None or find_program(program.pid), 30, 0.1)
        if app is True or not app:
            raise RuntimeError(f"the program did not appear on the accessibility bus within 30 s "
                               f"(status {program.poll()})")
        # Read every answer from the program itself, never from libatspi's cache.
        app.set_cache_mask(Atspi.Cache.NONE)
        window = wait_for(lambda: main_window(app), 30, 0.1)
        if not window:
            raise RuntimeError("the main window was not shown within 30 s")
        # The window's children are there once the effect buttons are.
        wait_for(lambda: one(controls(window), "Sweep Down", *TOGGLE), 20, 0.1)
        found = controls(window)
        print(f"the window is on the accessibility bus after {time.monotonic() - started:.1f} s")
        for group, check in [("names", lambda: check_names(window, found)),
                             ("presets", lambda: check_presets(window, found)),
                             ("effects", lambda: check_effects(window, found)),
                             ("play", lambda: check_play(window, found, desktop.work)),
                             ("input", lambda: check_input(window, found)),
                             ("record", lambda: check_record(window, found))]:
            before = len(failures)
            try:
                check()
            except Exception as error:  # a call that failed or timed out ends the group only
                failures.append(f"{group}: {type(error).__name__}: {error}")
            print(f"{group}: {'ok' if len(failures) == before else 'FAILED'}")
        expect(program.poll() is None, f"the program ended (status {program.poll()})")
    except Exception as error:
        failures.append(f"{group}: {error}")
    finally:
        if failures:
            for name, _ in desktop.processes:
                print(f"--- {name}'s output:\n{desktop.tail(name)}", file=sys.stderr)
        desktop.stop()
        try:
            reset_server()
        except Exception as error:
            failures.append(f"end: {error}")
        shutil.rmtree(desktop.work, ignore_errors=True)
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    print(f"{len(failures)} failures in {time.monotonic() - started:.1f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
