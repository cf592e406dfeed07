#!/usr/bin/env python3
"""The program as installed from its Debian package, driven from the outside.

Unpacks the package into a temporary root (dpkg-deb -x), makes the root's
bin folder read-only as an installed copy's is, and starts that px418 on a
virtual X server with a window manager (Xvfb, openbox). The converter driver
is libd2xx_logging_generator.so (tests/support/): the virtual generator
behind a D2XX library that logs every call and frame. The test then works
the real window with the keyboard and the mouse (xdotool) and checks, after
each step, the frames that reached the generator:

  - the connection: converter opened and set up, identity asked, the lock
    state sent, the twelve outputs read (Auto Recall), then the polls;
  - a frequency typed into output A's field and Enter: (0, 0x81, value);
  - a preset slot chosen and "Save" clicked: (4, 0x40, slot);
  - Control > Lock clicked: mode 1;
  - the settings dialog opened (Alt+S): contrast and calibration read;
    "Cancel" clicked: the contrast read at opening written back;
  - the About box (F1) shown and closed;
  - the window closed through the window manager (Alt+F4): the front panel
    unlocked, the converter closed, and the settings file - in the user's
    configuration folder, since the program's own is read-only - holding
    the typed frequency and the lock.

Screenshots of the main window, the settings dialog and the About box are
kept in the output folder (build/e2e by default).

Usage: installed_program_test.py --deb px418_<version>_<arch>.deb
           --driver libd2xx_logging_generator.so [--out DIR] [--keep]
Needs: dpkg-deb, Xvfb, openbox, xdotool, xprop, import (ImageMagick).
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAIN_TITLE = "3-phase generator PX-418"
# The main window's client area below the menu bar (panels and status bar).
MAIN_CLIENT_HEIGHT = 195

# Times are generous: the machine may be loaded. Nothing waits a fixed time
# for something to happen; every wait ends as soon as its condition holds.
START_TIMEOUT = 90.0
STEP_TIMEOUT = 45.0

TYPED_FREQUENCY_TEXT = "1234.5"
TYPED_FREQUENCY_MHZ = 1234500
PRESET_SLOT = 3
CONTRAST_AT_POWER_ON = 44


class Failure(Exception):
    pass


def le32(value):
    return ["%02x" % b for b in (value & 0xFFFFFFFF).to_bytes(4, "little")]


def hx(*values):
    return ["%02x" % v for v in values]


def set_par(group, number, value):
    return ["tx"] + hx(8, group, number) + le32(value)


def get_par(group, number):
    return ["tx"] + hx(9, group, number)


def wait_until(condition, timeout, what, interval=0.05):
    """Calls condition() until it returns something other than None or False."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result is not None and result is not False:
            return result
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class FrameLog:
    """The driver library's log: one event per line, as token lists."""

    def __init__(self, path):
        self.path = path

    def lines(self):
        try:
            with open(self.path, encoding="ascii") as f:
                return [line.split() for line in f.read().splitlines()]
        except FileNotFoundError:
            return []

    def find(self, tokens, start=0, lines=None):
        lines = self.lines() if lines is None else lines
        for i in range(start, len(lines)):
            if lines[i][: len(tokens)] == tokens:
                return i
        return None

    def expect(self, tokens, start, what, timeout=STEP_TIMEOUT):
        """Waits for a line starting with `tokens` at or after line `start`."""
        return wait_until(lambda: self.find(tokens, start), timeout,
                          "%s (%s)" % (what, " ".join(tokens)))

    def end(self):
        return len(self.lines())


class Desktop:
    """Xvfb with openbox, and the xdotool calls the test makes on it."""

    def __init__(self, work):
        self.work = work
        self.processes = []
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-dpi", "96", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(work, "xvfb.log"), "w"))
        os.close(write_end)
        self.processes.append(xvfb)
        number = b""
        deadline = time.monotonic() + START_TIMEOUT
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(remaining, 0))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                raise Failure("Xvfb did not start (see xvfb.log)")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)

        openbox = subprocess.Popen(
            ["openbox", "--sm-disable"], env=self.env,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "openbox.log"), "w"))
        self.processes.append(openbox)
        wait_until(self.wm_running, START_TIMEOUT, "the window manager")

    def wm_running(self):
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                             capture_output=True, text=True).stdout
        return "window id" in out

    def run(self, *args, timeout=STEP_TIMEOUT):
        try:
            done = subprocess.run(["xdotool", *map(str, args)], env=self.env,
                                  capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("xdotool %s did not finish in %.0f s" % (" ".join(map(str, args)),
                                                                     timeout))
        if done.returncode != 0:
            raise Failure("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                     done.stderr.strip()))
        return done.stdout

    def window(self, title, timeout=STEP_TIMEOUT):
        """The one visible window with exactly this title, waiting for it."""
        out = self.run("search", "--sync", "--onlyvisible", "--name", "^%s$" % title,
                       timeout=timeout)
        ids = out.split()
        if len(ids) != 1:
            raise Failure("expected one window \"%s\", found %d" % (title, len(ids)))
        return ids[0]

    def visible_windows(self):
        """The program's visible windows, popups included."""
        done = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "^px418$"],
                              env=self.env, capture_output=True, text=True)
        return set(done.stdout.split())

    def gone(self, window):
        return window not in self.visible_windows()

    def size(self, window):
        """(width, height) of a window."""
        values = {}
        for line in self.run("getwindowgeometry", "--shell", window).splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, x, y):
        """A left click at (x, y) of the window's own area."""
        self.run("mousemove", "--window", window, x, y)
        self.run("click", "1")

    def new_popup(self, before):
        """A window that became visible since `before` (a menu or a list)."""
        def appeared():
            new = self.visible_windows() - before
            return sorted(new)[0] if new else None
        return wait_until(appeared, STEP_TIMEOUT, "a popup to open")

    def activate(self, window):
        self.run("windowactivate", "--sync", window)

    def keys(self, *keys):
        self.run("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.run("type", "--delay", "40", text)

    def screenshot(self, window, path):
        done = subprocess.run(["import", "-window", window, path], env=self.env,
                              capture_output=True, text=True, timeout=STEP_TIMEOUT)
        if done.returncode != 0:
            raise Failure("screenshot %s failed: %s" % (path, done.stderr.strip()))

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def unpack(deb, root):
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    program = os.path.join(root, "usr", "bin", "px418")
    libraries = []
    for folder, _, files in os.walk(os.path.join(root, "usr", "lib")):
        if "libpx418usb.so.1" in files:
            libraries.append(os.path.join(folder, "libpx418usb.so.1"))
    if not os.access(program, os.X_OK) or len(libraries) != 1:
        raise Failure("the package holds no usr/bin/px418 or not one libpx418usb.so.1")
    # An installed copy's folder is not the user's to write, not even for
    # root: the read-only mode is what the program goes by.
    os.chmod(os.path.dirname(program), 0o555)
    return program, libraries[0]


def read_settings(path):
    sections, section = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = sections.setdefault(line[1:-1], {})
            elif "=" in line and section is not None:
                key, _, value = line.partition("=")
                section[key.strip()] = value.strip()
    return sections


def check_connection(log):
    """The first connection, in order; returns the index of the first poll."""
    lines = log.lines()
    at = 0
    for tokens, what in [
        (["call", "FT_ListDevices"], "the converters counted"),
        (["call", "FT_Open", "0", "=", "0"], "the converter opened"),
        (["call", "FT_SetBaudRate", "38400", "=", "0"], "38400 baud"),
        (["call", "FT_SetDataCharacteristics", "8", "0", "0", "=", "0"], "8N1"),
        (["call", "FT_Purge"], "the buffers purged"),
        (["tx"] + hx(3), "the identity asked"),
        (["rx"] + hx(3, *b"PX-418"), "the identity answered"),
        (["tx"] + hx(6, 0), "the front panel's lock state (unlocked) sent"),
    ]:
        found = log.find(tokens, at, lines)
        if found is None:
            raise Failure("connection: missing after line %d: %s (%s)" % (at, what, " ".join(tokens)))
        at = found + 1
    # Auto Recall: the twelve output entries read, then the polls.
    for group in range(3):
        for number in range(4):
            found = log.find(get_par(group, number), at, lines)
            if found is None:
                raise Failure("connection: output (%d, %d) not read" % (group, number))
            at = found + 1
    poll = log.find(["tx"] + hx(7), at, lines)
    if poll is None:
        raise Failure("connection: no poll after the outputs were read")
    return poll


def run_test(args, work, desktop):
    root = os.path.join(work, "root")
    program, library = unpack(args.deb, root)
    home = os.path.join(work, "home")
    config = os.path.join(work, "config")
    runtime = os.path.join(work, "runtime")
    for folder in (home, config, runtime):
        os.makedirs(folder, mode=0o700)
    frame_log = os.path.join(work, "frames.log")
    log = FrameLog(frame_log)

    env = dict(desktop.env, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               LD_LIBRARY_PATH=os.path.dirname(library), QT_QPA_PLATFORM="xcb",
               PX418USB_DRIVER=os.path.abspath(args.driver), PX418_FRAME_LOG=frame_log,
               LANG="C.UTF-8")
    output = open(os.path.join(work, "px418.out"), "w")
    px418 = subprocess.Popen([program], env=env, cwd=home, stdout=output,
                             stderr=subprocess.STDOUT)
    desktop.processes.append(px418)

    main = desktop.window(MAIN_TITLE, timeout=START_TIMEOUT)
    with open("/proc/%d/maps" % px418.pid) as f:
        if library not in f.read():
            raise Failure("px418 did not load the packaged %s" % library)

    # Connected: the sequence, then a few polls so the status bar shows it.
    wait_until(lambda: log.find(["tx"] + hx(7)) is not None, START_TIMEOUT, "the first poll")
    first_poll = check_connection(log)
    for _ in range(3):
        first_poll = log.expect(["tx"] + hx(7), first_poll + 1, "a poll")
    desktop.activate(main)
    desktop.screenshot(main, os.path.join(args.out, "main-window.png"))
    width, height = desktop.size(main)
    menu_bar = height - MAIN_CLIENT_HEIGHT
    if not 10 <= menu_bar <= 60:
        raise Failure("unexpected main window size %dx%d" % (width, height))
    print("connected; main window %dx%d" % (width, height))

    # A frequency typed into output A's field (feFa) and Enter.
    mark = log.end()
    desktop.click(main, 4 + 6 + 62, menu_bar + 2 + 62 + 17)
    log.expect(set_par(0, 0xC1, 50000), mark, "the focus-entry write of feFa")
    desktop.keys("ctrl+a")
    desktop.type(TYPED_FREQUENCY_TEXT)
    desktop.keys("Return")
    log.expect(set_par(0, 0x81, TYPED_FREQUENCY_MHZ), mark, "the typed frequency")
    print("typed frequency written")

    # Preset slot chosen in its list (mouse, then keyboard), "Save" clicked.
    mark = log.end()
    before = desktop.visible_windows()
    desktop.click(main, 466 + 8 + 41, menu_bar + 2 + 34 + 12)
    desktop.new_popup(before)
    desktop.keys(str(PRESET_SLOT))
    desktop.keys("Return")
    wait_until(lambda: desktop.visible_windows() <= before, STEP_TIMEOUT, "the list to close")
    desktop.click(main, 466 + 8 + 41, menu_bar + 2 + 104 + 13)
    log.expect(set_par(4, 0x40, PRESET_SLOT), mark, "the preset save")
    print("preset saved")

    # Control > Lock, both with the mouse.
    mark = log.end()
    before = desktop.visible_windows()
    desktop.click(main, args.control_menu_x, menu_bar // 2)
    menu = desktop.new_popup(before)
    desktop.click(menu, 30, 10)  # its first item, "Lock"
    log.expect(["tx"] + hx(6, 1), mark, "the lock")
    print("locked")

    # The settings dialog: opened from the keyboard, cancelled with the mouse.
    mark = log.end()
    desktop.activate(main)
    desktop.keys("alt+s")
    dialog = desktop.window("Settings")
    at = log.expect(get_par(4, 2), mark, "the contrast read")
    for number in range(4):
        at = log.expect(get_par(3, number), at, "calibration %d read" % number)
    desktop.screenshot(dialog, os.path.join(args.out, "settings-dialog.png"))
    mark = log.end()
    desktop.click(dialog, 246 + 37, 284 + 12)
    log.expect(set_par(4, 2, CONTRAST_AT_POWER_ON), mark, "the contrast written back on Cancel")
    wait_until(lambda: desktop.gone(dialog), STEP_TIMEOUT, "the settings dialog to close")
    print("settings dialog read and cancelled")

    # The About box.
    desktop.activate(main)
    desktop.keys("F1")
    about = desktop.window("About")
    desktop.screenshot(about, os.path.join(args.out, "about-box.png"))
    desktop.click(about, (459 - 75) // 2 + 37, 192 + 12)
    wait_until(lambda: desktop.gone(about), STEP_TIMEOUT, "the About box to close")
    print("About box shown")

    # Closed through the window manager: unlock, close, settings written.
    mark = log.end()
    desktop.activate(main)
    desktop.keys("alt+F4")
    try:
        status = px418.wait(STEP_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("px418 did not end after its window was closed")
    if status != 0:
        raise Failure("px418 ended with status %d" % status)
    unlock = log.expect(["tx"] + hx(6, 0), mark, "the unlock on close", timeout=1)
    closed = log.expect(["call", "FT_Close"], unlock, "the converter closed", timeout=1)
    late = [" ".join(l) for l in log.lines()[closed + 1:]]
    if late:
        raise Failure("calls after the converter was closed: %s" % late)
    print("closed: unlocked, converter closed")

    settings_path = os.path.join(config, "px418", "px418.ini")
    if os.path.exists(os.path.join(root, "usr", "bin", "px418.ini")):
        raise Failure("settings written beside the installed program")
    if not os.path.exists(settings_path):
        raise Failure("no settings file at $XDG_CONFIG_HOME/px418/px418.ini")
    settings = read_settings(settings_path)
    frequency = settings.get("OUT A", {}).get("F")
    if frequency is None or float(frequency) != TYPED_FREQUENCY_MHZ:
        raise Failure("settings file: [OUT A] F=%s, expected %d" % (frequency,
                                                                     TYPED_FREQUENCY_MHZ))
    if settings.get("Mode", {}).get("Lock") not in ("1", "true"):
        raise Failure("settings file: the lock was not kept: %s" % settings.get("Mode"))
    print("settings file holds the typed frequency and the lock")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--deb", required=True, help="the px418 Debian package")
    parser.add_argument("--driver", required=True, help="libd2xx_logging_generator.so")
    parser.add_argument("--out", default="build/e2e", help="folder for the screenshots")
    # Where the menu bar puts "Control" with the Qt default font (DejaVu Sans)
    # at the 96 dpi the X server is started with.
    parser.add_argument("--control-menu-x", type=int, default=66,
                        help="x of the Control menu's title in the menu bar")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    work = tempfile.mkdtemp(prefix="px418-e2e-")
    desktop = None
    ok = False
    try:
        desktop = Desktop(work)
        run_test(args, work, desktop)
        ok = True
    except (Failure, subprocess.CalledProcessError) as e:
        print("FAILED: %s" % e, file=sys.stderr)
    finally:
        if desktop is not None:
            desktop.close()
        for name in ("frames.log", "px418.out"):
            path = os.path.join(work, name)
            if os.path.exists(path):
                shutil.copy(path, os.path.join(args.out, name))
        if not ok:
            print("frame log and program output: %s" % os.path.abspath(args.out),
                  file=sys.stderr)
        if args.keep or not ok:
            print("work folder kept: %s" % work, file=sys.stderr)
        else:
            subprocess.run(["chmod", "-R", "u+w", work])
            shutil.rmtree(work, ignore_errors=True)
    print("PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
