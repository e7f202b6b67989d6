"""A private X display for the presenter and a presentation program: Xvfb, a session
bus, logs, a five-page deck, windows found by title, focus, screen grabs."""

import contextlib
import glob
import importlib.util
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

OFFICE_PIPES = "/tmp/OSL_PIPE_*"  # LibreOffice's single-instance sockets, outside any folder we choose
COLOURS = [(31, 78, 121), (46, 125, 50), (183, 28, 28), (106, 27, 154), (230, 81, 0)]


def require(programs, modules):
    """Exits with CTest's skip code, saying why, when a program or Debian's Python module is missing."""
    missing = [p for p in programs if not shutil.which(p)]
    missing += [f"python3 module {m}" for m in modules if not importlib.util.find_spec(m)]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed; scripts/setup test installs them")
        sys.exit(77)


def on_port(*state):
    """Sockets on the port of Impress's remote control: its listener, connections, a TIME-WAIT."""
    return subprocess.run(["ss", "-Htanp", *state, "( sport = :1599 or dport = :1599 )"],
                          capture_output=True, text=True, check=True).stdout


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
        self.office_pipes = set(glob.glob(OFFICE_PIPES))
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
        self.heard = {}
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
        # A killed office leaves its socket behind; one still listened on is somebody else's.
        for path in set(glob.glob(OFFICE_PIPES)) - self.office_pipes:
            with socket.socket(socket.AF_UNIX) as probe, contextlib.suppress(FileNotFoundError):
                if probe.connect_ex(path) != 0:
                    os.unlink(path)
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

    def bus(self):
        import dbus
        return dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])

    @contextlib.contextmanager
    def call_seen(self, member, arguments=""):
        """Once the block is done, waits until a call of `member` has gone over the session bus (with
        `arguments`, such as "arg1='NumberOfOverlays'")."""
        monitor = subprocess.Popen(["dbus-monitor", "--address", self.env["DBUS_SESSION_BUS_ADDRESS"],
                                    f"type='method_call',member='{member}',{arguments}".rstrip(",")],
                                   stdout=subprocess.PIPE)
        seen = []

        def read():
            if select.select([monitor.stdout], [], [], 0.05)[0]:
                seen.append(os.read(monitor.stdout.fileno(), 65536))
            return b"".join(seen)
        try:
            wait_for("dbus-monitor", lambda: read() or None)  # the bus daemon's greeting: it listens
            seen.clear()
            yield
            wait_for(f"a call of {member}", lambda: f"member={member}".encode() in read() or None)
        finally:
            monitor.kill()
            monitor.wait()
            monitor.stdout.close()

    def quit_midway(self, watch, program, command, member):
        """`program` stops answering, gets `command` as the call `member`, and dies: the watch hears PROGRAM_GONE."""
        os.kill(program.pid, signal.SIGSTOP)
        with self.call_seen(member):
            command_id = watch.command(command)
        program.kill()
        watch.answered(command_id, "PROGRAM_GONE")

    def pdfpc(self, deck, audience):
        """pdfpc on the deck, its presentation window at `audience`, with notes that name each page;
        returns the process and pdfpc's own D-Bus interface."""
        import dbus
        with open(deck + "pc", "w") as notes:  # pdfpc's notes file; it gives the page's notes out on D-Bus
            pages = [{"idx": n - 1, "label": str(n), "overlay": 0, "note": f"page {n}"} for n in range(1, 6)]
            json.dump({"pdfpcFormat": 2, "pages": pages}, notes)
        process = self.start(["pdfpc", "--windowed", "both", "--size", "960:540", deck])
        self.place(self.window("pdfpc - presentation"), *audience)
        bus = self.bus()
        wait_for("pdfpc on the session bus", lambda: bus.name_has_owner("io.github.pdfpc"), True)
        return process, dbus.Interface(bus.get_object("io.github.pdfpc", "/io/github/pdfpc"), "io.github.pdfpc")

    def okular(self, deck):
        """Okular on the deck; returns the process and its part's own D-Bus interface."""
        import dbus
        os.makedirs(f"{self.dir}/config", exist_ok=True)
        with open(f"{self.dir}/config/okularrc", "w") as settings:  # no box on how to leave a presentation
            settings.write("[Notification Messages]\npresentationInfo=false\n")
        process = self.start(["okular", deck])
        bus, name = self.bus(), f"org.kde.okular-{process.pid}"
        wait_for("Okular on the session bus", lambda: bus.name_has_owner(name), True, timeout=60)
        part = dbus.Interface(bus.get_object(name, "/okular"), "org.kde.okular")
        wait_for("the deck in Okular", lambda: int(part.pages()) or None, timeout=60)
        return process, part

    def impress_remote(self, deck, *remotes, pin="2468"):
        """LibreOffice Impress on a new deck at `deck`, with its remote control on and each client of `remotes`
        paired with `pin` (the presenter's PIN file too), set up as a user does once; returns the process once
        the deck is drawn, before which a show would stay grey and take no command."""
        # Another LibreOffice on this machine, or one that quit a moment ago, holds the port.
        wait_for("port 1599 free", lambda: on_port() == "", True, timeout=150)
        write_deck(deck)
        paired = "".join(f'<item oor:path="/org.openoffice.Office.Impress/Misc/AuthorisedRemotes"><node oor:name="{name}" '
                         f'oor:op="replace"><prop oor:name="PIN" oor:op="fuse"><value>{pin}</value></prop></node></item>\n'
                         for name in remotes)
        os.makedirs(f"{self.dir}/lo/user")
        with open(f"{self.dir}/lo/user/registrymodifications.xcu", "w") as profile:
            profile.write('<?xml version="1.0" encoding="UTF-8"?>\n<oor:items xmlns:oor="http://openoffice.org/2001/registry">\n'
                          '<item oor:path="/org.openoffice.Office.Impress/Misc/Start"><prop oor:name="EnableSdremote" '
                          'oor:op="fuse"><value>true</value></prop></item>\n' + paired +
                          '<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse">'
                          '<value>false</value></prop><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value>'
                          '</prop></item>\n</oor:items>\n')
        os.makedirs(f"{self.dir}/config/orbilatch", exist_ok=True)
        with open(f"{self.dir}/config/orbilatch/impress-pin", "w") as kept:
            kept.write(pin + "\n")
        office = self.start(["soffice", "--norestore", "--nologo", "--nolockcheck", "--infilter=impress_pdf_import",
                             f"-env:UserInstallation=file://{self.dir}/lo", deck])
        listener = wait_for("Impress's remote control", lambda: on_port("state", "listening") or None, timeout=90)
        assert "soffice" in listener, f"another user's LibreOffice listens: {listener}"

        def drawn():
            colours = self.grab().getcolors(1 << 24)
            return sum(n for n, c in colours if sum(abs(a - b) for a, b in zip(c, COLOURS[0])) < 6) > 100000 or None
        wait_for("the first slide in Impress's editor", drawn, timeout=60)
        return office

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
        """Gives a window the focus, or X.NONE or X.PointerRoot."""
        from Xlib import X
        self.x.set_input_focus(window, X.RevertToParent, X.CurrentTime)
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

    def listen(self, window):
        """From now on `keys(window)` collects the key events the server sends to `window`."""
        from Xlib import X
        window.change_attributes(event_mask=X.KeyPressMask | X.KeyReleaseMask)
        self.x.sync()
        self.heard[window.id] = []
        return window

    def keys(self, window):
        """The key events sent to a window listened to, as (keysym, pressed)."""
        from Xlib import X
        while self.x.pending_events():
            event = self.x.next_event()
            if event.type in (X.KeyPress, X.KeyRelease) and event.window.id in self.heard:
                self.heard[event.window.id].append((self.x.keycode_to_keysym(event.detail, 0), event.type == X.KeyPress))
        return self.heard[window.id]

    def other_window(self, x, y, width, height, wm_class=None, **attributes):
        """A window of the test's own X client, listened to and focused; named by `wm_class` (instance, class)."""
        window = self.root.create_window(x, y, width, height, 0, self.x.screen().root_depth, **attributes)
        if wm_class:
            window.set_wm_class(*wm_class)
        window.map()
        self.focus(self.listen(window))
        return window
