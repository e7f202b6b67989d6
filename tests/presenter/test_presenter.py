"""orbilatch-present with a stand-in agent, pressing keys through XTEST on an
Xvfb of its own: each command acknowledged once, in order; the agent asked to
stop on a signal, killed when it does not, reported when it dies, and gone
when the presenter dies. Which key and which acknowledgement are the unit
tests' business."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from presenter.stand_in_agent import PATH as STAND_IN, Agent
from support.events import ADVERTISING, CONNECTED, WATCH_CONNECTED, received

PRESENT = os.environ.get("ORBILATCH_PRESENT", "../build/orbilatch-present")
COMMANDS = [received(2, "41", "START_PRESENTATION"), received(2, "42", "NEXT_SLIDE"),
            received(1, "43", "PREVIOUS_SLIDE"), received(2, "a.b:c-1_2", "TOGGLE_BLACK_SCREEN"),
            received(2, "45", "END_PRESENTATION")]
SESSION = [ADVERTISING, WATCH_CONNECTED, CONNECTED, *COMMANDS]
SHUTDOWN = {"type": "shutdown"}
xvfb = display = None


def setUpModule():
    global xvfb, display
    if shutil.which("Xvfb") is None:
        raise unittest.SkipTest("Xvfb is not installed (apt-get install xvfb)")
    number_out, number_in = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(number_in), "-nolisten", "tcp"], pass_fds=[number_in],
                            stderr=subprocess.DEVNULL)
    os.close(number_in)
    with os.fdopen(number_out) as numbers:
        display = ":" + numbers.readline().strip()


def tearDownModule():
    if xvfb:
        xvfb.terminate()
        xvfb.wait()


class Lifecycle(unittest.TestCase):
    def start(self, *options, env=()):
        directory = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, directory)
        self.agent = Agent(directory)
        presenter = subprocess.Popen([PRESENT, "--keyboard", "xtest", "--agent", STAND_IN, *options],
                                     env=dict(os.environ, DISPLAY=display, **self.agent.env, **dict(env)),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (presenter.kill(), presenter.communicate()))
        self.agent.accept()
        self.addCleanup(self.agent.hang_up)
        self.agent.send(*SESSION)
        return presenter

    def read_until(self, last):
        """The presenter's lines to the agent before `last` (None: until the stand-in is gone)."""
        lines = []
        while (line := self.agent.read()) != last:
            self.assertIsNotNone(line, f"the stand-in ended before {last}, after {lines}")
            lines.append(line)
        return lines

    def test_each_command_is_acknowledged_once_in_order_and_sigint_stops_the_agent(self):
        presenter = self.start("--json")
        acknowledged = [self.agent.read() for _ in COMMANDS]
        presenter.send_signal(signal.SIGINT)
        self.assertEqual(self.read_until(SHUTDOWN), [], "nothing more than one acknowledgement per command")
        self.assertEqual(self.read_until(None), [])
        out, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 0, err)
        self.assertEqual([(a["commandId"], a["status"]) for a in acknowledged],
                         [(c["commandId"], "executed") for c in COMMANDS])
        self.assertEqual(out.splitlines(), [json.dumps(event) for event in SESSION], "--json passes events unchanged")

    def test_an_agent_that_does_not_stop_is_killed(self):
        presenter = self.start(env={"ORBILATCH_STAND_IN_DEAF": "1"})
        presenter.send_signal(signal.SIGTERM)
        self.read_until(SHUTDOWN)
        self.read_until(None)
        _, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 1)
        self.assertIn("the agent did not stop within 2 s; killing it", err)

    def test_an_agent_that_dies_ends_the_presenter(self):
        presenter = self.start()
        self.agent.hang_up()  # the stand-in exits with status 3
        _, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 1)
        self.assertIn("the agent stopped on its own with status 3", err)

    def test_the_agent_goes_when_the_presenter_dies(self):
        presenter = self.start()
        presenter.kill()
        self.read_until(None)
