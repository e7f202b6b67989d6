"""The presenter in the guest, for its scenario, its demo and its benchmark:
orbilatch-present started as a user starts it, and the key events of its
virtual keyboard read back from the kernel."""

import asyncio
import fcntl
import json
import re
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
    """uinput for the keyboard, evdev for its /dev/input node: without udev,
    nothing in the guest loads them."""
    for module in ("uinput", "evdev"):
        subprocess.run(["modprobe", module], check=True, capture_output=True)


class Presenter:
    """orbilatch-present on pipes; each line it writes goes to log, and the
    lines of its standard output (events, in --json) and of its standard
    error (diagnostics, its agent's among them) can be awaited."""

    def __init__(self, process, log):
        self.process = process
        self.lines = asyncio.Queue()
        self.diagnostics = asyncio.Queue()
        self.pumps = [asyncio.create_task(self._pump(process.stdout, self.lines, "out", log)),
                      asyncio.create_task(self._pump(process.stderr, self.diagnostics, "err", log))]

    @classmethod
    async def start(cls, binary, log, *options, env=None):
        process = await asyncio.create_subprocess_exec(
            str(binary), *options, stdin=asyncio.subprocess.DEVNULL,
            stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.PIPE, env=env)
        return cls(process, log)

    async def _pump(self, stream, lines, label, log):
        async for raw in stream:
            text = raw.decode(errors="replace").rstrip("\n")
            log(f"{label} {text}")
            lines.put_nowait(text)

    async def expect(self, *expected, timeout=20.0):
        for event in expected:
            try:
                got = json.loads(await asyncio.wait_for(self.lines.get(), timeout))
            except asyncio.TimeoutError:
                raise AssertionError(f"no line from the presenter within {timeout:.0f} s") from None
            if got != event:
                raise AssertionError(f"expected event {event}, got {got}")

    async def expect_diagnostic(self, pattern, timeout=20.0):
        try:
            line = await asyncio.wait_for(self.diagnostics.get(), timeout)
        except asyncio.TimeoutError:
            raise AssertionError(f"no diagnostic from the presenter within {timeout:.0f} s") from None
        if not re.fullmatch(pattern, line):
            raise AssertionError(f"expected a diagnostic matching {pattern!r}, got {line!r}")

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)

    async def wait(self, timeout=10.0):
        status = await asyncio.wait_for(self.process.wait(), timeout)
        await asyncio.gather(*self.pumps)
        return status

    async def finish(self):
        """Ends the presenter if it still runs and reads both streams to
        their end. Returns the diagnostic lines that nobody expected."""
        if self.process.returncode is None:
            self.process.kill()
        await self.wait()
        unexpected = []
        while not self.diagnostics.empty():
            unexpected.append(self.diagnostics.get_nowait())
        return unexpected


async def connect_watch_to_new_presenter(rig, watch, *options, binary=None, env=None):
    """rig.connect_watch_to_new_agent for the presenter in --json mode, which
    starts the agent installed next to it; the build's presenter unless
    binary names another."""
    holder = {}
    binary = binary or rig.agent_binary.with_name("orbilatch-present")

    async def spawn():
        holder["presenter"] = await Presenter.start(binary, lambda text: rig.log("presenter", text),
                                                    "--json", *options, env=env)
        rig.programs.append(holder["presenter"])

    await watch.connect(on_scanning=spawn)
    await holder["presenter"].expect(ADVERTISING)
    assert watch.device.address == AGENT_ADDRESS, f"the agent is on {watch.device.address}, not hci0"
    return holder["presenter"]


class KeyReader:
    """The presenter's keyboard's key events: (code, value, kernel time on the
    monotonic clock), value 1 for a press and 0 for a release."""

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
        try:
            return [await asyncio.wait_for(self.keys.get(), timeout) for _ in range(count)]
        except asyncio.TimeoutError:
            raise AssertionError(f"fewer than {count} key events within {timeout:.0f} s") from None

    def close(self):
        self.task.cancel()
        self.device.close()


def key_name(code):
    """PAGEDOWN for KEY_PAGEDOWN."""
    name = ecodes.KEY[code]
    return (name[0] if isinstance(name, list) else name).removeprefix("KEY_")
