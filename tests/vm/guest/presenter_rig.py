"""What the presenter's scenarios, its demo and its benchmark work with in the
guest: orbilatch-present started the way a user starts it, and the key
events of its virtual keyboard read back from the kernel."""

import asyncio
import fcntl
import json
import signal
import struct
import subprocess
import time

import evdev
from evdev import ecodes

from rig import ADVERTISING, AGENT_ADDRESS

KEYBOARD_NAME = "OrbiLatch presenter keyboard"
EVIOCSCLOCKID = 0x400445A0  # _IOW('E', 0xa0, int)


def load_uinput():
    """uinput for the presenter's keyboard, evdev for its /dev/input node:
    without udev, nothing in the guest loads them."""
    for module in ("uinput", "evdev"):
        subprocess.run(["modprobe", module], check=True, capture_output=True)


class Presenter:
    """orbilatch-present with its streams on pipes; every line it writes is
    logged, event lines (--json) can be awaited."""

    def __init__(self, process, log):
        self.process = process
        self.log = log
        self.lines = asyncio.Queue()
        self.pumps = [asyncio.create_task(self._pump(process.stdout, "out", self.lines)),
                      asyncio.create_task(self._pump(process.stderr, "err", None))]

    @classmethod
    async def start(cls, binary, log, *options):
        process = await asyncio.create_subprocess_exec(
            str(binary), *options, stdin=asyncio.subprocess.DEVNULL,
            stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.PIPE)
        log(f"started {binary.name} {' '.join(options)}")
        return cls(process, log)

    async def _pump(self, stream, label, lines):
        async for raw in stream:
            text = raw.decode(errors="replace").rstrip("\n")
            self.log(f"{label} {text}")
            if lines is not None:
                lines.put_nowait((time.monotonic(), text))
        if lines is not None:
            lines.put_nowait((time.monotonic(), None))

    async def next_event(self, timeout=20.0):
        """(arrival time, event) of the next line of --json output."""
        try:
            arrived, text = await asyncio.wait_for(self.lines.get(), timeout)
        except asyncio.TimeoutError:
            raise AssertionError(f"no line from the presenter within {timeout:.0f} s") from None
        if text is None:
            raise AssertionError(f"the presenter closed its output (status {self.process.returncode})")
        return arrived, json.loads(text)

    async def expect(self, *expected, timeout=20.0):
        for event in expected:
            _, got = await self.next_event(timeout)
            if got != event:
                raise AssertionError(f"expected event {event}, got {got}")

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)

    async def wait(self, timeout=10.0):
        status = await asyncio.wait_for(self.process.wait(), timeout)
        await asyncio.gather(*self.pumps)
        self.log(f"exited with status {status}")
        return status

    def kill(self):
        if self.process.returncode is None:
            self.process.kill()


async def connect_watch_to_new_presenter(rig, watch, *options):
    """Like rig.connect_watch_to_new_agent, with the presenter in --json mode
    starting the agent installed next to it."""
    holder = {}

    async def spawn():
        binary = rig.agent_binary.with_name("orbilatch-present")
        holder["presenter"] = await Presenter.start(binary, lambda text: rig.log("presenter", text),
                                                    "--json", *options)

    await watch.connect(on_scanning=spawn)
    presenter = holder["presenter"]
    await presenter.expect(ADVERTISING)
    assert watch.device.address == AGENT_ADDRESS, f"the agent is on {watch.device.address}, not hci0"
    return presenter


class KeyReader:
    """The key events of the presenter's virtual keyboard, as (code, value,
    kernel time on the monotonic clock); value 1 is a press, 0 a release."""

    def __init__(self):
        paths = [path for path in evdev.list_devices() if evdev.InputDevice(path).name == KEYBOARD_NAME]
        assert len(paths) == 1, f"expected one device named {KEYBOARD_NAME!r}, found {paths}"
        self.device = evdev.InputDevice(paths[0])
        fcntl.ioctl(self.device.fd, EVIOCSCLOCKID, struct.pack("i", time.CLOCK_MONOTONIC))
        self.keys = asyncio.Queue()
        self.task = asyncio.create_task(self._read())

    async def _read(self):
        async for event in self.device.async_read_loop():
            if event.type == ecodes.EV_KEY:
                self.keys.put_nowait((event.code, event.value, event.timestamp()))

    async def next(self, count, timeout=10.0):
        events = []
        for _ in range(count):
            try:
                events.append(await asyncio.wait_for(self.keys.get(), timeout))
            except asyncio.TimeoutError:
                raise AssertionError(f"only {events} from the keyboard within {timeout:.0f} s") from None
        return events

    async def none_within(self, seconds):
        await asyncio.sleep(seconds)
        assert self.keys.empty(), f"unexpected key events {list(self.keys._queue)}"

    def close(self):
        self.task.cancel()
        self.device.close()


def key_name(code):
    name = ecodes.KEY[code]
    return name[0] if isinstance(name, list) else name
