"""A private X display for a presentation program and the presenter that
drives it: Xvfb, a session bus, windows found by title, focus, screen grabs,
and orbilatch-present pressing keys through XTEST for a stand-in agent that
the test feeds."""

import importlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from support.events import ADVERTISING, CONNECTED, WATCH_CONNECTED, received

HERE = os.path.dirname(os.path.abspath(__file__))
PRESENT = os.environ.get("ORBILATCH_PRESENT", f"{HERE}/../../build/orbilatch-present")


def require(programs, modules):
    """Exits with CTest's skip code when a program or Debian's Python module is missing."""
    missing = [p for p in programs if not shutil.which(p)]
    for module in modules:
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append(f"python3 module {module}")
    if missing:
        print(f"skipped: {', '.join(missing)} not installed; scripts/setup test installs them")
        sys.exit(77)


def keysym(name):
    from Xlib import XK
    return XK.string_to_keysym(name)


def wait_for(what, probe, expected, timeout=20.0):
    deadline = time.monotonic() + timeout
    while (seen := probe()) != expected:
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: expected {expected!r}, still {seen!r} after {timeout:.0f} s")
        time.sleep(0.05)


class Desktop:
    def __init__(self, width=1920, height=720):
        from Xlib import display
        self.dir = tempfile.mkdtemp(prefix="orbilatch-desktop-")
        self.processes = []
        self.env = dict(os.environ, HOME=self.dir, XDG_CONFIG_HOME=f"{self.dir}/config",
                        XDG_CACHE_HOME=f"{self.dir}/cache", XDG_RUNTIME_DIR=self.dir)
        number_out, number_in = os.pipe()
        self.start(["Xvfb", "-displayfd", str(number_in), "-screen", "0", f"{width}x{height}x24",
                    "-nolisten", "tcp"], pass_fds=[number_in])
        os.close(number_in)
        with os.fdopen(number_out) as numbers:
            self.env["DISPLAY"] = ":" + numbers.readline().strip()
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        bus.stdout.close()
        self.x = display.Display(self.env["DISPLAY"])
        self.root = self.x.screen().root

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, command, env=None, **options):
        """Starts a program on this display in a process group of its own, so
        that its helpers end with it."""
        options.setdefault("stdout", subprocess.DEVNULL)
        with open(f"{self.dir}/{os.path.basename(command[0])}.log", "ab") as log:
            process = subprocess.Popen(command, env=dict(self.env, **(env or {})), stdin=subprocess.DEVNULL,
                                       stderr=log, start_new_session=True, **options)
        self.processes.append(process)
        return process

    def log(self, program):
        try:
            with open(f"{self.dir}/{program}.log", errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def window(self, title, timeout=60.0):
        """The top-level window whose title contains `title`, once it is mapped."""
        from Xlib import X
        found = []

        def probe():
            found[:] = [w for w in self.root.query_tree().children
                        if title in (w.get_wm_name() or "") and w.get_attributes().map_state == X.IsViewable]
            return bool(found)
        wait_for(f"a window titled {title!r}", probe, True, timeout)
        return found[0]

    def place(self, window, x, y, width, height):
        window.configure(x=x, y=y, width=width, height=height)
        self.x.sync()

    def focused(self):
        return self.x.get_input_focus().focus

    def focus(self, window):
        from Xlib import X
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.x.sync()

    def grab(self, x=0, y=0, width=None, height=None):
        from PIL import Image
        from Xlib import X
        geometry = self.root.get_geometry()
        width, height = width or geometry.width, height or geometry.height
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xffffffff)
        return Image.frombytes("RGB", (width, height), image.data, "raw", "BGRX")

    def colour(self, x, y, width, height):
        """The mean colour of a part of the screen, as whole numbers."""
        from PIL import ImageStat
        return tuple(round(c) for c in ImageStat.Stat(self.grab(x, y, width, height)).mean)

    def other_window(self, x, y, width, height):
        """A window of another program, for focus to go elsewhere; `keys()` are
        the key symbols it has been sent."""
        from Xlib import X
        window = self.root.create_window(x, y, width, height, 0, self.x.screen().root_depth,
                                         background_pixel=self.x.screen().white_pixel,
                                         event_mask=X.KeyPressMask | X.StructureNotifyMask)
        window.set_wm_name("another program")
        window.map()
        self.x.sync()
        received = []

        def keys():
            while self.x.pending_events():
                event = self.x.next_event()
                if event.type == X.KeyPress and event.window == window:
                    received.append(self.x.keycode_to_keysym(event.detail, 0))
            return list(received)
        window.keys = keys
        return window


class Presenter:
    """orbilatch-present with the stand-in agent as its child. `tap` plays one
    command from the watch and returns the presenter's acknowledgement status.
    `options` choose the keys; `terminal` (an xterm geometry) shows the
    presenter's status line on the display."""

    def __init__(self, desktop, options=(), terminal=None):
        self.desktop = desktop
        self.count = 0
        path = f"{desktop.dir}/agent.sock"
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(path)
        listener.listen(1)
        listener.settimeout(30)
        command = [PRESENT, "--keyboard", "xtest", "--agent", f"{HERE}/stand_in_agent.py", *options]
        if terminal:
            log = f"{desktop.dir}/orbilatch-present.log"
            command = ["xterm", "-geometry", terminal, "-fa", "Monospace", "-fs", "11",
                       "-e", "sh", "-c", f'"$@" 2>>{log}', "sh", *command]
        desktop.start(command, env={"ORBILATCH_STAND_IN_SOCKET": path})
        try:
            self.agent, _ = listener.accept()
        except socket.timeout:
            raise AssertionError("orbilatch-present did not start its agent:\n"
                                 + desktop.log("orbilatch-present")) from None
        self.agent.settimeout(20)
        self.lines = self.agent.makefile("rb")
        for event in (ADVERTISING, WATCH_CONNECTED, CONNECTED):
            self.send(event)

    def send(self, event):
        self.agent.sendall(json.dumps(event).encode() + b"\n")

    def tap(self, command):
        self.count += 1
        command_id = str(self.count)
        self.send(received(2, command_id, command))
        for line in self.lines:
            message = json.loads(line)
            if message.get("type") == "command_acknowledgement" and message.get("commandId") == command_id:
                return message["status"]
        raise AssertionError(f"orbilatch-present ended before acknowledging {command}:\n"
                             + self.desktop.log("orbilatch-present"))
