"""The agent binary as its controller sees it: start-up, controller lines,
signals and shutdown, with no Bluetooth stack."""

import contextlib
import fcntl
import os
import signal
import subprocess
import threading
import time
import unittest

import agent_flood
from agent_events import SHUTDOWN, UNSUPPORTED
from agent_pipes import AGENT, AgentProcess

NO_BUS = {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/orbilatch-test-bus"}


class Shutdown(unittest.TestCase):
    def test_a_signal_before_the_loop_takes_it_over_has_its_default_action(self):
        """Stopped just before it installs its handlers, the agent is sent
        SIGTERM: it must die of it, not shut down in order later."""
        result = subprocess.run(
            ["gdb", "-nx", "-batch", "-ex", "handle SIGTERM nostop noprint pass",
             "-ex", "break orbilatch::system::EventLoop::onTerminationSignals", "-ex", "run",
             "-ex", "call (int)kill((int)getpid(), 15)", "-ex", "continue", "--args", AGENT],
            env={**os.environ, **NO_BUS}, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        # With debug information gdb names the function alone, without it the address as well.
        self.assertRegex(result.stdout, r"Breakpoint 1, (0x[0-9a-f]+ in )?(orbilatch::system::EventLoop::)?onTerminationSignals")
        self.assertIn("Program terminated with signal SIGTERM", result.stdout)
        self.assertNotIn('"message":"shutdown"', result.stdout)

    def test_the_end_of_input_stops_nothing(self):
        with AgentProcess(env=NO_BUS, stdin=subprocess.DEVNULL) as agent:
            agent.expect_diagnostic("cannot connect to the system bus: No such file or directory")
            agent.expect_event(UNSUPPORTED)
            agent.assert_no_output(within=0.5)
            agent.signal(signal.SIGTERM)
            agent.expect_event(SHUTDOWN)
            self.assertEqual(agent.wait_exit(), 0)


class FloodingController:
    """Writes a flood of acknowledgements and reads nothing until its last
    write has returned."""

    def __init__(self, test, lines):
        self.process = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env={**os.environ, **NO_BUS})
        test.addCleanup(lambda: (self.process.kill(), self.process.wait()))
        self.lines = agent_flood.output_lines(self.process.stdout.fileno())
        writer = threading.Thread(target=self.send, args=(agent_flood.flood(lines),), daemon=True)
        writer.start()
        writer.join(timeout=60)
        test.assertFalse(writer.is_alive(), "the agent stopped reading its input")

    def send(self, data):
        with contextlib.suppress(BrokenPipeError):
            self.process.stdin.write(data)
            self.process.stdin.flush()

    def proc(self, name):
        with open(f"/proc/{self.process.pid}/{name}") as entry:
            return entry.read()

    def signal_once_taken(self, signum):
        """Sends it, then waits for its delivery: the kernel merges an identical one sent before."""
        self.process.send_signal(signum)
        wait_until(lambda: not int(next(line for line in self.proc("status").splitlines()
                                        if line.startswith("ShdPnd:")).split()[1], 16) & 1 << (signum - 1))


def wait_until(condition):
    """True once the condition holds, False if it has not within 30 s."""
    deadline = time.monotonic() + 30
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


class ControllerLines(unittest.TestCase):
    def test_a_controller_that_reads_only_after_its_whole_flood_gets_every_event_in_order(self):
        controller = FloodingController(self, 1_000_000)
        next(controller.lines)  # the adapter state
        agent_flood.expect_answer(controller.lines, 1_000_000)
        controller.send(b'{"type":"shutdown"}\n')
        self.assertEqual(list(controller.lines), [agent_flood.SHUTDOWN])
        self.assertEqual(controller.process.wait(timeout=10), 0)

    def test_two_sigints_in_a_flood_wait_for_a_batch_or_two_of_lines_and_the_second_ends_the_agent_at_once(self):
        """Both arrive, one after the other, while the loop is stuck writing to
        its full output: only the lines that output holds events for and a
        batch or two come before the shutdown. One request would have let the
        agent handle lines for 50 ms more and report them after it."""
        controller = FloodingController(self, 1_000_000)
        self.assertTrue(wait_until(lambda: controller.proc("wchan").endswith("pipe_write")))
        controller.signal_once_taken(signal.SIGINT)
        # ThreadSanitizer holds back, one of each kind, signals that interrupt a write.
        controller.signal_once_taken(signal.SIGTERM if os.environ.get("ORBILATCH_SANITIZE") == "thread" else signal.SIGINT)
        events = list(controller.lines)
        self.assertEqual(events[-1], agent_flood.SHUTDOWN)
        handled = sum(line.startswith(b'{"type":"ack_received') for line in events)
        output_capacity = fcntl.fcntl(controller.process.stdout.fileno(), fcntl.F_GETPIPE_SZ)
        self.assertLess(handled, output_capacity // len(agent_flood.WAITING) + 1000)
        self.assertEqual(controller.process.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main()
