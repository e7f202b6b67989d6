"""The agent binary as its controller sees it: start-up, controller lines,
signals and shutdown, with no Bluetooth stack."""

import contextlib
import fcntl
import json
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


def start_agent(**options):
    agent = AgentProcess(env=NO_BUS, **options)
    agent.expect_diagnostic("cannot connect to the system bus: No such file or directory")
    agent.expect_event(UNSUPPORTED)
    return agent


class Shutdown(unittest.TestCase):
    def test_a_signal_before_the_loop_takes_it_over_has_its_default_action(self):
        """Stopped just before it installs its handlers, the agent is sent
        SIGTERM: it must die of it, not shut down in order later."""
        result = subprocess.run(
            ["gdb", "-nx", "-batch", "-ex", "handle SIGTERM nostop noprint pass",
             "-ex", "break orbilatch::EventLoop::onTerminationSignals", "-ex", "run",
             "-ex", "call (int)kill((int)getpid(), 15)", "-ex", "continue", "--args", AGENT],
            env={**os.environ, **NO_BUS}, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        # With debug information gdb names the function alone, without it the address as well.
        self.assertRegex(result.stdout, r"Breakpoint 1, (0x[0-9a-f]+ in )?(orbilatch::EventLoop::)?onTerminationSignals")
        self.assertIn("Program terminated with signal SIGTERM", result.stdout)
        self.assertNotIn('"message":"shutdown"', result.stdout)

    def test_the_end_of_input_stops_nothing(self):
        for stdin in (subprocess.DEVNULL, subprocess.PIPE):
            with self.subTest(stdin=stdin), start_agent(stdin=stdin) as agent:
                if stdin == subprocess.PIPE:  # a last line without its newline, then the end
                    agent.process.stdin.write(b'{"type":"command_acknowledgement","commandId":"1","status":"executed"}')
                    agent.close_stdin()
                    agent.expect_event({"type": "ack_received_from_controller", "commandId": "1", "status": "executed"})
                    agent.expect_event({"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
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
        test.addCleanup(self.process.wait)
        test.addCleanup(self.process.kill)
        self.flood = agent_flood.flood(lines)
        self.lines = agent_flood.output_lines(self.process.stdout.fileno())

    def write_flood(self):
        """True once the last write has returned; False if the agent stopped reading."""
        def write():
            with contextlib.suppress(BrokenPipeError):
                self.process.stdin.write(self.flood)
                self.process.stdin.flush()
        writer = threading.Thread(target=write, daemon=True)
        writer.start()
        writer.join(timeout=60)
        return not writer.is_alive()

    def wait_until_stuck_writing_output(self):
        """Until the agent's main thread waits in a write to its full standard output."""
        return wait_for(lambda: read_proc(self.process.pid, "wchan").endswith("pipe_write"))

    def wait_until_taken(self, signum):
        """Until the signal no longer waits to be delivered. The kernel merges a
        second identical signal sent before the first is delivered."""
        def taken():
            status = read_proc(self.process.pid, "status")
            pending = int(next(line.split()[1] for line in status.splitlines() if line.startswith("ShdPnd:")), 16)
            return not pending & (1 << (signum - 1))
        return wait_for(taken)


def read_proc(pid, name):
    with open(f"/proc/{pid}/{name}") as entry:
        return entry.read()


def wait_for(condition, timeout=30):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


class ControllerLines(unittest.TestCase):
    def test_a_controller_that_reads_only_after_its_whole_flood_gets_every_event_in_order(self):
        controller = FloodingController(self, 1_000_000)
        self.assertTrue(controller.write_flood(), "the agent stopped reading its input")
        self.assertEqual(json.loads(next(controller.lines)), UNSUPPORTED)
        agent_flood.expect_answer(controller.lines, 1_000_000)
        controller.process.stdin.write(b'{"type":"shutdown"}\n')
        controller.process.stdin.flush()
        self.assertEqual(list(controller.lines), [agent_flood.SHUTDOWN])
        self.assertEqual(controller.process.wait(timeout=10), 0)

    def test_a_signal_is_taken_within_a_few_batches_of_a_backlog_of_a_million_lines(self):
        """Before the signal the agent has handled no more lines than its full
        standard output holds events for; after it, no more than a batch or
        two of lines come before the shutdown."""
        controller = FloodingController(self, 1_000_000)
        self.assertTrue(controller.write_flood(), "the agent stopped reading its input")
        controller.process.send_signal(signal.SIGTERM)
        events = list(controller.lines)
        handled = sum(line.startswith(b'{"type":"ack_received') for line in events[:events.index(agent_flood.SHUTDOWN)])
        output_capacity = fcntl.fcntl(controller.process.stdout.fileno(), fcntl.F_GETPIPE_SZ)
        self.assertLess(handled, output_capacity // len(agent_flood.WAITING) + 1000)
        self.assertEqual(controller.process.wait(timeout=10), 0)

    def test_each_of_two_identical_signals_is_a_request_of_its_own(self):
        """Both SIGINTs arrive while the agent's loop is stuck writing to its full
        standard output, the second after the first was delivered. When the loop
        goes on, the first request reports the shutdown and the second ends the
        process there. Had the two made one request, the agent would have gone on
        handling the waiting lines for 50 ms and reported them after the
        shutdown."""
        controller = FloodingController(self, 20_000)
        self.assertTrue(controller.write_flood(), "the agent stopped reading its input")
        self.assertTrue(controller.wait_until_stuck_writing_output())
        for _ in range(2):
            controller.process.send_signal(signal.SIGINT)
            controller.wait_until_taken(signal.SIGINT)
        self.assertEqual(list(controller.lines)[-1], agent_flood.SHUTDOWN)
        self.assertEqual(controller.process.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main()
