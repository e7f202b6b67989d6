"""orbilatch-present with a stand-in agent, under Xvfb: each command becomes
its key on the X server and one acknowledgement, in order; the agent is
stopped on a signal, killed when it does not stop, reported when it stops on
its own, and gone when the presenter dies."""

import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
PRESENT = os.environ.get("ORBILATCH_PRESENT", "build/orbilatch-present")
SESSION = (HERE / "session.jsonl").read_text().splitlines()
COMMANDS = [json.loads(line) for line in SESSION if '"command_received"' in line]
SHUTDOWN = '{"type":"ble_state_changed","state":"disconnected","message":"shutdown"}'
DEFAULT_KEYS = {"NEXT_SLIDE": "Page_Down", "PREVIOUS_SLIDE": "Page_Up", "START_PRESENTATION": "F5",
                "END_PRESENTATION": "Escape", "TOGGLE_BLACK_SCREEN": "b"}

xvfb = None
display_name = None


def setUpModule():
    global xvfb, display_name
    if shutil.which("Xvfb") is None:
        raise unittest.SkipTest("Xvfb is not installed (apt-get install xvfb)")
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"], pass_fds=[write_end],
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        display_name = ":" + numbers.readline().strip()


def tearDownModule():
    if xvfb:
        xvfb.terminate()
        xvfb.wait()


class KeyWatcher:
    """Every key event that reaches the X server's root window, as
    (keysym, pressed)."""

    def __init__(self):
        from Xlib import X, XK, display
        self.X, self.XK = X, XK
        self.display = display.Display(display_name)
        self.display.screen().root.change_attributes(event_mask=X.KeyPressMask | X.KeyReleaseMask)
        self.display.sync()

    def events(self, count, timeout=10):
        seen = []
        deadline = time.monotonic() + timeout
        while len(seen) < count and time.monotonic() < deadline:
            if not self.display.pending_events():
                select.select([self.display], [], [], 0.1)
                continue
            event = self.display.next_event()
            if event.type in (self.X.KeyPress, self.X.KeyRelease):
                seen.append((self.display.keycode_to_keysym(event.detail, 0), event.type == self.X.KeyPress))
        return seen


def gone(pid, within=5):
    """Whether the process has ended (a zombie counts) within a few seconds."""
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        try:
            if Path(f"/proc/{pid}/stat").read_text().split(") ")[1][0] == "Z":
                return True
        except (FileNotFoundError, IndexError):
            return True
        time.sleep(0.05)
    return False


class Lifecycle(unittest.TestCase):
    def start(self, end, *options):
        self.record = Path(tempfile.mkdtemp()) / "record.jsonl"
        self.record.touch()
        env = dict(os.environ, DISPLAY=display_name, ORBILATCH_STAND_IN_RECORD=str(self.record),
                   ORBILATCH_STAND_IN_END=end)
        presenter = subprocess.Popen([PRESENT, "--keyboard", "xtest", "--agent", str(HERE / "stand_in_agent.py"),
                                      *options], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.stop, presenter)
        return presenter

    @staticmethod
    def stop(presenter):
        if presenter.poll() is None:
            presenter.kill()
        presenter.communicate()

    def read(self, until, timeout=10):
        """The stand-in's record, once until(record) holds."""
        deadline = time.monotonic() + timeout
        while True:
            record = [json.loads(line) for line in self.record.read_text().splitlines()]
            if until(record):
                return record
            if time.monotonic() > deadline:
                self.fail(f"the stand-in agent's record stayed at {record}")
            time.sleep(0.05)

    def acknowledged(self, record):
        return [m for m in record if m.get("type") == "command_acknowledgement"]

    def test_each_command_becomes_its_key_and_one_acknowledgement_in_order(self):
        keys = KeyWatcher()
        presenter = self.start("shutdown", "--json")
        record = self.read(lambda r: len(self.acknowledged(r)) == len(COMMANDS))
        presenter.send_signal(signal.SIGINT)
        out, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 0, err)

        self.assertEqual(self.acknowledged(self.read(lambda r: r[-1] == {"type": "shutdown"})),
                         [{"type": "command_acknowledgement", "commandId": c["commandId"], "status": "executed",
                           "protocolVersion": c["protocolVersion"]} for c in COMMANDS])
        self.assertEqual(out.splitlines(), SESSION + [SHUTDOWN], "--json passes the events through unchanged")
        self.assertEqual(keys.events(2 * len(COMMANDS) + 1, timeout=1),
                         [(keys.XK.string_to_keysym(DEFAULT_KEYS[c["command"]]), pressed)
                          for c in COMMANDS for pressed in (True, False)])
        self.assertTrue(gone(record[0]["pid"]))

    def test_an_agent_that_does_not_stop_is_killed(self):
        presenter = self.start("ignore")
        pid = self.read(lambda r: len(self.acknowledged(r)) == len(COMMANDS))[0]["pid"]
        presenter.send_signal(signal.SIGTERM)
        _, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 1)
        self.assertIn("did not stop within 2 s", err)
        self.assertEqual(self.read(lambda r: True)[-1], {"type": "shutdown"})
        self.assertTrue(gone(pid))

    def test_an_agent_that_stops_on_its_own_ends_the_presenter(self):
        presenter = self.start("die")
        _, err = presenter.communicate(timeout=10)
        self.assertEqual(presenter.returncode, 1)
        self.assertIn("the agent stopped on its own with status 3", err)

    def test_the_agent_goes_when_the_presenter_dies(self):
        presenter = self.start("ignore")
        pid = self.read(lambda r: len(r) > 0)[0]["pid"]
        presenter.kill()
        presenter.wait()
        self.read(lambda r: r[-1] == {"signal": "SIGTERM"})
        self.assertTrue(gone(pid))


if __name__ == "__main__":
    unittest.main()
