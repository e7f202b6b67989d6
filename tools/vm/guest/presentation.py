"""The demo inside the guest: a new user's one command, orbilatch-present,
runs the agent on hci0 and presses keys on its virtual keyboard; a slide show
reads that keyboard; the command-line watch on hci1 taps through a short
presentation. Every line of each is shown as it comes, labelled by who
wrote it."""

import asyncio
import sys

from evdev import ecodes

from presenter_rig import KeyReader, Presenter, key_name, load_uinput

WATCH_COMMANDS = ["start", "next", "next", "black", "black", "previous", "end"]
SLIDES = 5


def label(name):
    return f"{name:<19}| "


class SlideShow:
    """What a presentation program makes of the keys it is sent."""

    slide = None
    black = False

    def key(self, code):
        if code == ecodes.KEY_F5:
            self.slide, self.black = 1, False
        elif self.slide is not None and code in (ecodes.KEY_PAGEDOWN, ecodes.KEY_PAGEUP):
            self.slide = max(1, min(SLIDES, self.slide + (1 if code == ecodes.KEY_PAGEDOWN else -1)))
        elif self.slide is not None and code == ecodes.KEY_B:
            self.black = not self.black
        elif code == ecodes.KEY_ESC:
            self.slide = None
        if self.slide is None:
            return "no show running"
        return "screen black" if self.black else f"slide {self.slide} of {SLIDES}"


async def presentation(rig):
    show = rig.mark
    load_uinput()
    show(f"{label('user')}orbilatch-present")
    lines = []

    def presenter_line(text):
        stream, _, line = text.partition(" ")
        if stream in ("out", "err"):
            show(label("orbilatch-present") + line)
            lines.append(line)

    # Its output goes to pipes; on the user's terminal it would make no desktop notifications either.
    presenter = await Presenter.start(rig.agent_binary.with_name("orbilatch-present"), presenter_line, "--no-notify")
    while not any("Bluetooth advertising" in line for line in lines):
        if presenter.process.returncode is not None:
            raise AssertionError("the presenter stopped before the agent advertised")
        await asyncio.sleep(0.1)

    keyboard = KeyReader()
    slide_show = SlideShow()

    async def watch_keys():
        while True:
            (code, value, _), = await keyboard.next(1, timeout=3600)
            if value == 1:
                show(f"{label('slide show')}{key_name(code)} pressed: {slide_show.key(code)}")

    reader = asyncio.create_task(watch_keys())
    show(f"{label('watch (hci1)')}orbilatch-watch --adapter hci1 --interval 1.5 {' '.join(WATCH_COMMANDS)}")
    watch = await asyncio.create_subprocess_exec(
        sys.executable, "-W", "ignore", str(rig.tools / "orbilatch-watch"), "--adapter", "hci1",
        "--interval", "1.5", "--id", "1", *WATCH_COMMANDS,
        stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT)
    async for raw in watch.stdout:
        show(label("watch (hci1)") + raw.decode(errors="replace").rstrip("\n"))
    watch_status = await watch.wait()

    await asyncio.sleep(1.0)
    show(f"{label('user')}Ctrl-C")
    presenter.interrupt()
    presenter_status = await presenter.wait(30)
    reader.cancel()
    keyboard.close()
    assert watch_status == 0, f"the watch exited with status {watch_status}"
    assert presenter_status == 0, f"the presenter exited with status {presenter_status}"
