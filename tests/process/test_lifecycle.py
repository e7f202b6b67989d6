"""The agent binary as its controller sees it: start-up, controller lines,
signals and shutdown, with no Bluetooth stack."""

import contextlib
import os
import signal
import subprocess
import threading
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
             "-ex", "break orbilatch::EventLoop::onTerminationSignals", "-ex", "run",
             "-ex", "call (int)kill((int)getpid(), 15)", "-ex", "continue", "--args", AGENT],
            env={**os.environ, **NO_BUS}, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        # With debug information gdb names the function alone, without it the address as well.
        self.assertRegex(result.stdout, r"Breakpoint 1, (0x[0-9a-f]+ in )?(orbilatch::EventLoop::)?onTerminationSignals")
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


class ControllerLines(unittest.TestCase):
    def test_a_controller_that_reads_only_after_its_whole_flood_gets_every_event_in_order(self):
        agent = subprocess.Popen([AGENT], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 env={**os.environ, **NO_BUS})
        self.addCleanup(lambda: (agent.kill(), agent.wait()))
        lines = agent_flood.output_lines(agent.stdout.fileno())
        writer = threading.Thread(target=send, args=(agent, agent_flood.flood(1_000_000)), daemon=True)
        writer.start()
        writer.join(timeout=60)
        self.assertFalse(writer.is_alive(), "the agent stopped reading its input")
        next(lines)  # the adapter state
        agent_flood.expect_answer(lines, 1_000_000)
        send(agent, b'{"type":"shutdown"}\n')
        self.assertEqual(list(lines), [agent_flood.SHUTDOWN])
        self.assertEqual(agent.wait(timeout=10), 0)


def send(agent, data):
    """Writes it all, as a controller that reads nothing meanwhile."""
    with contextlib.suppress(BrokenPipeError):
        agent.stdin.write(data)
        agent.stdin.flush()


if __name__ == "__main__":
    unittest.main()
