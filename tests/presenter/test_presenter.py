"""orbilatch-present with the stand-in agent on Xvfb: every command acknowledged once, in order, also when its key
cannot go out; the agent's diagnostics shown; its stop, kill and death; the exit status of each end."""

import json
import signal
import socket
import subprocess
import unittest

from desktop.harness import Desktop, require
from presenter.stand_in_agent import PRESENT, Presenter
from agent_events import ADVERTISING, CONNECTED, SHUTDOWN_REQUEST, WATCH_CONNECTED, acknowledgement, received

require(["Xvfb"], ["Xlib"])

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
                    (["--keyboard", "xtest"], {"DISPLAY": ""}, 2, "cannot press keys through XTEST: DISPLAY is not"),
                    (["--keyboard", "xtest", "--agent", "/none"], {}, 1, "cannot run the agent /none: No such file")):
                self.assertEqual(desktop.start([PRESENT, *options], env=env).wait(10), status)
                self.assertIn(f"orbilatch-present: {message}", desktop.log("orbilatch-present"))
