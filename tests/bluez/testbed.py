"""A private bus, the stand-in bluetoothd on it and the real agent pointed at it.

    with Testbed() as bed:
        bed.expect_advertising()
        watch = bed.connect_watch("AA:BB:CC:DD:EE:01")
        self.assertIsNone(watch.write(b"OL2|C|42|N"))
        bed.agent.expect_event({...})

Everything is torn down on exit, also when a test fails: the agent is killed,
the bus daemon stopped and the temporary directory removed.
"""

import contextlib
import queue
import shutil
import sys
import tempfile
import unittest

from bluez.fake_bluez import DBusDaemon, FakeBluez, pump_for, pump_until
from support.agent import DEFAULT_TIMEOUT, AgentProcess
from support.events import (  # noqa: F401  (the tests take these from here)
    ADVERTISING, CONNECTED, DISCONNECTED, POWERED_OFF, RESETTING, SHUTDOWN, UNKNOWN, UNSUPPORTED,
    WATCH_CONNECTED, WATCH_DISCONNECTED, ack_notified, ack_received, acknowledgement, received, state_event)


class BusAgent(AgentProcess):
    """The agent binary; every wait on its output also serves the bus, so the
    stand-in bluetoothd answers the agent while the test waits."""

    def _take(self, lines, timeout, what):
        taken = []

        def ready():
            try:
                taken.append(lines.get_nowait())
            except queue.Empty:
                return False
            return True

        try:
            pump_until(ready, timeout, what)
        except AssertionError as error:
            raise AssertionError(f"{error}; {self.pending_output()}") from None
        return taken[0]

    def pending_output(self):
        out = [line for line in list(self.stdout_lines.queue) if line is not None]
        err = [line for line in list(self.stderr_lines.queue) if line is not None]
        return f"unread stdout {out}, unread stderr {err}, exit status {self.process.poll()}"

    def next_raw_line(self, timeout=DEFAULT_TIMEOUT):
        return self._take(self.stdout_lines, timeout, "an event line")

    def next_diagnostic(self, timeout=DEFAULT_TIMEOUT):
        line = self._take(self.stderr_lines, timeout, "a diagnostic line")
        if line is None:
            raise AssertionError("agent closed its standard error")
        return line.decode().rstrip("\n")

    def assert_no_output(self, within=0.3):
        pump_for(within)
        for lines in (self.stdout_lines, self.stderr_lines):
            pending = [line for line in list(lines.queue) if line is not None]
            if pending:
                raise AssertionError(f"unexpected output {pending}")

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        pump_until(lambda: self.process.poll() is not None, timeout, "the agent to exit")
        return self.process.returncode

    def events_until(self, last, allowed=(), timeout=DEFAULT_TIMEOUT):
        """Read events up to and including `last`; any event before it must be
        one of `allowed`. Returns the events read."""
        seen = []
        while True:
            event = self.next_event(timeout)
            seen.append(event)
            if event == last:
                return seen
            if event not in allowed:
                raise AssertionError(f"unexpected event {event} while waiting for {last} (so far {seen})")


class Testbed:
    """version: the bluetoothd whose behaviour the stand-in follows ("5.82", "5.66").
    adapters: what bluetoothd has when the agent starts (names or dicts of
    FakeBluez.add_adapter arguments); bluez=False starts the agent with no
    bluetoothd on the bus (then bed.bluez.start() brings it). bus_policy: extra
    rules for the bus, such as fake_bluez.DENY_CALLS_TO_BLUEZ."""

    def __init__(self, version="5.82", adapters=("hci0",), bluez=True, bus_policy=""):
        self.version = version
        self.bus_policy = bus_policy
        self.adapters = adapters
        self.start_bluez = bluez
        self.agent = None
        self.bluez = None
        self._stack = contextlib.ExitStack()

    def __enter__(self):
        if shutil.which("dbus-daemon") is None:
            raise unittest.SkipTest("dbus-daemon is not installed")
        try:
            directory = self._stack.enter_context(tempfile.TemporaryDirectory(prefix="orbilatch-bluez-"))
            self.bus = DBusDaemon(directory, self.bus_policy)
            self._stack.callback(self.bus.stop)
            self.bluez = FakeBluez(self.bus.address, self.version)
            self._stack.callback(self.bluez.leave)
            if self.start_bluez:
                self.bluez.start(self.adapters)
            self.agent = BusAgent(env={"DBUS_SYSTEM_BUS_ADDRESS": self.bus.address})
            self._stack.callback(self.agent.kill)
        except BaseException:
            self._stack.close()
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None and self.agent is not None:
            sys.stderr.write(f"\n[testbed] agent at failure: {self.agent.pending_output()}\n")
        self._stack.close()
        return False

    # Shortcuts -------------------------------------------------------------------

    @property
    def hci0(self):
        return self.bluez.adapter("hci0")

    def central(self, address, adapter="hci0", **options):
        return self.bluez.adapter(adapter).central(address, **options)

    def wait_for(self, condition, what, timeout=DEFAULT_TIMEOUT):
        return pump_until(condition, timeout, what)

    def expect_advertising(self, adapter="hci0"):
        """The "advertising" event, with the advertisement really registered."""
        self.agent.expect_event(ADVERTISING)
        self.wait_for(lambda: self.bluez.adapter(adapter).advertising, f"advertising on {adapter}")

    def expect_watch_left(self):
        """The watch's departure, reported, and advertising back on."""
        self.agent.expect_event(WATCH_DISCONNECTED)
        self.agent.expect_event(DISCONNECTED)
        self.expect_advertising()

    def command_round_trip(self, watch, command_id, letter="N", command="NEXT_SLIDE"):
        """One version-2 command from the watch to the controller and its
        acknowledgement back to the watch, with every line in between."""
        error = watch.write(f"OL2|C|{command_id}|{letter}".encode())
        if error is not None:
            raise AssertionError(f"the command's write was answered {error!r}")
        self.agent.expect_event(received(2, command_id, command))
        self.agent.send(acknowledgement(command_id))
        self.agent.expect_event(ack_received(command_id))
        frame = f"OL2|A|{command_id}|E"
        self.agent.expect_event(ack_notified(frame))
        notification = watch.notification()
        if notification != frame.encode():
            raise AssertionError(f"the watch was notified {notification!r}, not {frame}")

    def connect_watch(self, address="AA:BB:CC:DD:EE:01", adapter="hci0", **options):
        """A central that connects and subscribes, accepted as the watch:
        advertising stops."""
        watch = self.central(address, adapter, **options)
        result = watch.subscribe()
        if result is not None:
            raise AssertionError(f"AcquireNotify for {address} answered {result!r}")
        self.agent.expect_event(WATCH_CONNECTED)
        self.agent.expect_event(CONNECTED)
        self.wait_for(lambda: not self.bluez.adapter(adapter).advertising, "advertising to stop")
        return watch
