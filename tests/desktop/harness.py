"""A private X display for the presenter and a presentation program: Xvfb, a session
bus, logs, a five-page deck, windows found by title, focus, screen grabs."""

import importlib.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

COLOURS = [(31, 78, 121), (46, 125, 50), (183, 28, 28), (106, 27, 154), (230, 81, 0)]


def require(programs, modules):
    """Exits with CTest's skip code, saying why, when a program or Debian's Python module is missing."""
    missing = [p for p in programs if not shutil.which(p)]
    missing += [f"python3 module {m}" for m in modules if not importlib.util.find_spec(m)]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed; scripts/setup test installs them")
        sys.exit(77)


def wait_for(what, probe, expected=None, timeout=20.0):
    """probe()'s value once it is `expected` (by default: once it is not None)."""
    deadline = time.monotonic() + timeout
    while (seen := probe()) is None or (expected is not None and seen != expected):
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: expected {expected!r}, still {seen!r} after {timeout:.0f} s")
        time.sleep(0.05)
    return seen


def write_deck(path):
    """A PDF of five slides, each its own colour and title."""
    from PIL import Image, ImageDraw, ImageFont
    try:
        font = ImageFont.truetype("DejaVuSans.ttf", 120)
    except OSError:  # the titles are only for people to read
        font = ImageFont.load_default()
    pages = [Image.new("RGB", (1280, 720), colour) for colour in COLOURS]
    for n, page in enumerate(pages, 1):
        ImageDraw.Draw(page).text((640, 360), f"Slide {n}", fill="white", font=font, anchor="mm")
    pages[0].save(path, save_all=True, append_images=pages[1:], resolution=96)


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
        # Without a window manager the focus is where the pointer is: not on
        # any program's window until the test gives it.
        self.root.warp_pointer(width - 1, height - 1)

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
            process = subprocess.Popen(command, env=dict(self.env, **(env or {})), stdin=options.pop("stdin", subprocess.DEVNULL),
                                       stdout=options.pop("stdout", subprocess.DEVNULL), stderr=log,
                                       start_new_session=True, **options)
        self.processes.append(process)
        return process

    def log(self, program):
        with open(f"{self.dir}/{program}.log", errors="replace") as log:
            return log.read()

    def window(self, title):
        """The top-level window whose title contains `title`, once it is mapped."""
        from Xlib import X, error

        def mapped():
            try:
                return next((w for w in self.root.query_tree().children
                             if title in (w.get_wm_name() or "") and w.get_attributes().map_state == X.IsViewable), None)
            except error.BadWindow:  # a program's short-lived window went between the two requests
                return None
        return wait_for(f"a window titled {title!r}", mapped, timeout=60)

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
