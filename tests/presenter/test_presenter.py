"""orbilatch-present with the stand-in agent on Xvfb: every command acknowledged once,
in order; the agent stopped on SIGINT, killed if it will not, reported if it dies."""

import json
import signal
import socket
import subprocess
import unittest

from desktop.harness import Desktop
from presenter.stand_in_agent import Presenter
from agent_events import ADVERTISING, CONNECTED, WATCH_CONNECTED, received

COMMANDS = [received(2, "41", "START_PRESENTATION"), received(2, "42", "NEXT_SLIDE"),
            received(1, "43", "PREVIOUS_SLIDE"), received(2, "44", "TOGGLE_BLACK_SCREEN"),
            received(2, "45", "END_PRESENTATION")]
SHUTDOWN = {"type": "shutdown"}


class Lifecycle(unittest.TestCase):
    def start(self, *options, **env):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.__exit__)
        self.presenter = Presenter(self.desktop, options, env=env, stdout=subprocess.PIPE)
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
        process.send_signal(signal.SIGINT)
        self.assertEqual(self.rest(), [SHUTDOWN], "one acknowledgement per command, no more")
        out = self.ends(process, 0)
        self.assertEqual([(a["commandId"], a["status"]) for a in self.acknowledged],
                         [(c["commandId"], "executed") for c in COMMANDS])
        self.assertEqual(out.splitlines(), list(map(json.dumps, (ADVERTISING, WATCH_CONNECTED, CONNECTED, *COMMANDS))),
                         "--json passes the events through unchanged")

    def test_an_agent_that_does_not_stop_is_killed(self):
        process = self.start(ORBILATCH_STAND_IN_DEAF="1")
        process.send_signal(signal.SIGTERM)
        self.assertEqual(self.rest(), [SHUTDOWN])
        self.ends(process, 1, "the agent did not stop within 2 s; killing it")

    def test_an_agent_that_dies_ends_the_presenter(self):
        process = self.start()
        self.presenter.connection.shutdown(socket.SHUT_WR)  # the stand-in exits with status 3
        out = self.ends(process, 1, "the agent stopped on its own with status 3")
        self.assertRegex(out.splitlines()[-1], r"^Bluetooth connected \| watch connected \| .* \| 5 done$")

    def test_the_agent_goes_when_the_presenter_dies(self):
        self.start().kill()
        self.rest()
