"""orbilatch-present with the stand-in agent on Xvfb: every command acknowledged once, in order, also when its key
cannot go out; the agent's diagnostics shown; its stop, kill and death; the exit status of each end."""

import itertools
import json
import os
import signal
import socket
import subprocess
import unittest

from desktop.harness import Desktop, require
from presenter.stand_in_agent import PRESENT, Presenter
from agent_events import ADVERTISING, CONNECTED, SHUTDOWN_REQUEST, WATCH_CONNECTED, acknowledgement, received

require(["Xvfb"], ["Xlib", "dbus"])
import dbus  # noqa: E402

COMMANDS = [received(2, "41", "START_PRESENTATION"), received(2, "42", "NEXT_SLIDE"),
            received(1, "43", "PREVIOUS_SLIDE"), received(2, "44", "TOGGLE_BLACK_SCREEN"),
            received(2, "45", "END_PRESENTATION")]
KEYLESS = received(1, "46", "NEXT_SLIDE")  # sent once the X server is gone


class Lifecycle(unittest.TestCase):
    def start(self, *options, **env):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.__exit__)
        # No program's window takes the keys here.
        self.presenter = Presenter(self.desktop, ("--any-window", *options), env=env, stdout=subprocess.PIPE)
        self.presenter.send(*COMMANDS)
        self.acknowledged = [self.presenter.read() for _ in COMMANDS]
        return self.presenter.process

    def rest(self):
        """The presenter's lines to the agent until the stand-in is gone."""
        return list(iter(self.presenter.read, None))

    def ends(self, process, status, message=""):
        out, _ = process.communicate(timeout=10)
        self.assertEqual(process.returncode, status)
        self.assertIn(message, self.desktop.log("orbilatch-present"))
        return out.decode()

    def test_each_command_is_acknowledged_once_in_order_and_sigint_stops_the_agent(self):
        process = self.start("--json")
        self.presenter.connection.sendall(b"stderr: Ignoring malformed controller input\n")
        self.desktop.processes[0].kill()
        self.desktop.processes[0].wait()
        self.presenter.send(KEYLESS)
        self.assertEqual(self.presenter.read(), acknowledgement("46", 1, "failed", "KEY_INJECTION_FAILED"))
        process.send_signal(signal.SIGINT)
        self.assertEqual(self.acknowledged, [acknowledgement(c["commandId"], c["protocolVersion"]) for c in COMMANDS])
        self.assertEqual(self.rest(), [SHUTDOWN_REQUEST], "one acknowledgement per command, no more")
        out = self.ends(process, 0, "orbilatch-agent: Ignoring malformed controller input\n")
        self.assertEqual(out.splitlines(), [json.dumps(e) for e in (ADVERTISING, WATCH_CONNECTED, CONNECTED, *COMMANDS,
                                                                    KEYLESS)], "--json passes the events on unchanged")

    def test_an_agent_that_does_not_stop_is_killed(self):
        process = self.start(ORBILATCH_STAND_IN_DEAF="1")
        process.send_signal(signal.SIGTERM)
        self.assertEqual(self.rest(), [SHUTDOWN_REQUEST])
        self.ends(process, 1, "the agent did not stop within 2 s; killing it")

    def test_an_agent_that_dies_ends_the_presenter(self):
        process = self.start()
        self.presenter.connection.shutdown(socket.SHUT_WR)  # the stand-in exits with status 3
        out = self.ends(process, 1, "the agent stopped on its own with status 3")
        self.assertRegex(out.splitlines()[-1], r"^Bluetooth connected \| watch connected \| .* \| 5 done$")

    def test_the_agent_goes_when_the_presenter_dies(self):
        self.start().kill()
        self.rest()

    def test_a_presenter_that_cannot_start_says_why_and_exits_non_zero(self):
        with Desktop() as desktop:
            for options, env, status, message in (
                    (["--keyboard", "xtest"], {"DISPLAY": ""}, 2,
                     "cannot press keys through XTEST: DISPLAY is not set\norbilatch-present --check says what"),
                    (["--keyboard", "xtest", "--agent", "/none"], {}, 1, "cannot run the agent /none: No such file")):
                self.assertEqual(desktop.start([PRESENT, *options], env=env).wait(10), status)
                self.assertIn(f"orbilatch-present: {message}", desktop.log("orbilatch-present"))

    def test_check_says_what_this_machine_lacks_one_line_each(self):
        try:
            os.close(os.open("/dev/uinput", os.O_WRONLY | os.O_NONBLOCK))
            uinput = "ok    /dev/uinput: writable"
        except OSError as error:
            uinput = rf"(warn|FAIL)  /dev/uinput: {os.strerror(error.errno)}"
        # An Impress of this user elsewhere on the machine may have its remote control on.
        impress = "(, LibreOffice Impress through its remote control)?"
        keys = r"gets keys in the focused window \(NEXT_SLIDE PageDown, .+\)"
        with Desktop() as desktop:
            session_bus = desktop.env["DBUS_SESSION_BUS_ADDRESS"]
            pdfpc = dbus.bus.BusConnection(session_bus)
            pdfpc.request_name("io.github.pdfpc")
            # A bus without bluetoothd, then none at all.
            for bus, display, bluetoothd, xtest, programs in (
                    (session_bus, desktop.env["DISPLAY"], r"FAIL  bluetoothd: not running",
                     r"ok    XTEST on the X display :\d+ \(X11 windows only\)",
                     rf"ok    presentation programs: pdfpc over the session bus{impress}; every other program {keys}"),
                    ("unix:path=/nonexistent", "", r"FAIL  bluetoothd: cannot ask the system bus \(No such file.*\)",
                     r"(warn|FAIL)  XTEST: DISPLAY is not set",
                     rf"ok    presentation programs: the session bus cannot be asked \(no session bus: .+\); "
                     rf"(none driven directly; every|LibreOffice Impress through its remote control; every other) "
                     rf"program {keys}")):
                env = dict(desktop.env, DBUS_SYSTEM_BUS_ADDRESS=bus, DBUS_SESSION_BUS_ADDRESS=bus, DISPLAY=display)
                check = subprocess.run([PRESENT, "--check"], env=env, capture_output=True, text=True, timeout=30)
                self.assertEqual(check.returncode, 1, "it cannot present without bluetoothd")
                lines = check.stdout.splitlines()
                for line, expected in itertools.zip_longest(lines, (
                        bluetoothd, r"FAIL  Bluetooth adapter: unknown while bluetoothd cannot be asked",
                        uinput,
                        r"ok    udev rule: .+|(warn|FAIL)  udev rule for /dev/uinput: not installed",
                        xtest, programs)):
                    self.assertRegex(line, rf"^(({expected})(\. Fix: .+)?)$", check.stdout)
