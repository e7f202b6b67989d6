"""A private X display for a presentation program and the presenter that
drives it: Xvfb, a session bus, a five-page deck, windows found by title,
focus, screen grabs, and orbilatch-present pressing keys through XTEST for the
stand-in agent."""

import importlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from presenter.stand_in_agent import PATH as STAND_IN, Agent
from support.events import ADVERTISING, CONNECTED, WATCH_CONNECTED, received

PRESENT = os.environ.get("ORBILATCH_PRESENT", "../build/orbilatch-present")
COLOURS = [(31, 78, 121), (46, 125, 50), (183, 28, 28), (106, 27, 154), (230, 81, 0)]


def require(programs, modules):
    """Exits with CTest's skip code, saying why, when a program or Debian's Python module is missing."""
    missing = [p for p in programs if not shutil.which(p)]
    for module in modules:
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append(f"python3 module {module}")
    if missing:
        print(f"skipped: {', '.join(missing)} not installed; scripts/setup test installs them")
        sys.exit(77)


def wait_for(what, probe, expected, timeout=20.0):
    deadline = time.monotonic() + timeout
    while (seen := probe()) != expected:
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: expected {expected!r}, still {seen!r} after {timeout:.0f} s")
        time.sleep(0.05)


def write_deck(path):
    """Five pages, each its own colour and title, each with a note naming the
    page, which pdfpc gives out on D-Bus as the current page's notes."""
    objects = [b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    pages = 2 + 2 * len(COLOURS)
    for n, colour in enumerate(COLOURS, 1):
        fill = " ".join(f"{c / 255:.3f}" for c in colour)
        text = f"{fill} rg 0 0 800 450 re f 1 1 1 rg BT /F1 96 Tf 255 190 Td (Slide {n}) Tj ET".encode()
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text))
        objects.append(b"<< /Type /Page /Parent %d 0 R /Contents %d 0 R /Resources << /Font << /F1 1 0 R >> >>"
                       b" /Annots [<< /Type /Annot /Subtype /Text /Rect [0 0 1 1] /Contents (page %d) >>] >>"
                       % (pages, len(objects), n))
    kids = b" ".join(b"%d 0 R" % k for k in range(3, pages, 2))
    objects.append(b"<< /Type /Pages /Kids [%s] /Count %d /MediaBox [0 0 800 450] >>" % (kids, len(COLOURS)))
    objects.append(b"<< /Type /Catalog /Pages %d 0 R >>" % pages)
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, len(objects), xref)
    with open(path, "wb") as pdf:
        pdf.write(out)


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
        that its helpers end with it; its stderr goes to a log in self.dir."""
        with open(f"{self.dir}/{os.path.basename(command[0])}.log", "ab") as log:
            process = subprocess.Popen(command, env=dict(self.env, **(env or {})), stdin=subprocess.DEVNULL,
                                       stdout=options.pop("stdout", subprocess.DEVNULL), stderr=log,
                                       start_new_session=True, **options)
        self.processes.append(process)
        return process

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
        """A window of another program, focused; `keys()` are the key events
        it has been sent, as (keysym, pressed)."""
        from Xlib import X
        window = self.root.create_window(x, y, width, height, 0, self.x.screen().root_depth,
                                         event_mask=X.KeyPressMask | X.KeyReleaseMask)
        window.map()
        self.focus(window)
        received = []

        def keys():
            while self.x.pending_events():
                event = self.x.next_event()
                if event.type in (X.KeyPress, X.KeyRelease) and event.window == window:
                    received.append((self.x.keycode_to_keysym(event.detail, 0), event.type == X.KeyPress))
            return received
        window.keys = keys
        return window


class Presenter:
    """orbilatch-present with the stand-in agent as its child. `options` choose
    the keys; `terminal` (an xterm geometry) shows the presenter's status line
    on the display; `settle` is called before each tap."""

    def __init__(self, desktop, options=(), terminal=None, settle=lambda: None):
        self.desktop, self.settle, self.count = desktop, settle, 0
        self.agent = Agent(desktop.dir)
        command = [PRESENT, "--keyboard", "xtest", "--agent", STAND_IN, *options]
        if terminal:
            command = ["xterm", "-geometry", terminal, "-fa", "Monospace", "-fs", "11", "-e", "sh", "-c",
                       f'"$@" 2>>{desktop.dir}/orbilatch-present.log', "sh", *command]
        desktop.start(command, env=self.agent.env)
        self.agent.accept()
        self.agent.send(ADVERTISING, WATCH_CONNECTED, CONNECTED)

    def tap(self, command, probe, expected):
        """One command from the watch: acknowledged `executed`, and then `probe()` comes to `expected`."""
        self.settle()
        self.count += 1
        self.agent.send(received(2, str(self.count), command))
        ack = self.agent.read() or {}
        if (ack.get("commandId"), ack.get("status")) != (str(self.count), "executed"):
            with open(f"{self.desktop.dir}/orbilatch-present.log", errors="replace") as log:
                raise AssertionError(f"{command} was acknowledged {ack}; orbilatch-present said:\n{log.read()}")
        wait_for(f"after {command}", probe, expected)
