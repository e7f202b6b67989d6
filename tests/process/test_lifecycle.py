"""The agent binary as its controller sees it: start-up, controller lines,
signals and shutdown, with no Bluetooth stack."""

import contextlib
import os
import signal
import subprocess
import threading
import unittest

from agent_events import SHUTDOWN, UNSUPPORTED
from agent_pipes import AGENT, AgentProcess

NO_BUS = {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/orbilatch-test-bus"}


def start_agent(**options):
    agent = AgentProcess(env=NO_BUS, **options)
    agent.expect_diagnostic("cannot connect to the system bus: No such file or directory")
    agent.expect_event(UNSUPPORTED)
    return agent


class Shutdown(unittest.TestCase):
    def test_a_request_reports_once_and_exits_zero_and_a_second_one_exits_at_once(self):
        for first, second in (("line", None), ("SIGINT", None), ("SIGTERM", "SIGINT"), ("SIGINT", "line")):
            with self.subTest(first=first, second=second), start_agent() as agent:
                for request in (first, second):
                    if request == "line":
                        agent.send({"type": "shutdown", "commandId": "ignored"})
                    elif request:
                        agent.signal(getattr(signal, request))
                    if request == first:
                        self.assertEqual(agent.next_raw_line(), b'{"type":"ble_state_changed","state":'
                                         b'"disconnected","message":"shutdown"}\n')
                self.assertEqual(agent.wait_exit(), 0)
                self.assertIsNone(agent.next_raw_line())

    def test_a_signal_before_the_loop_takes_it_over_has_its_default_action(self):
        """Stopped just before it installs its handlers, the agent is sent
        SIGTERM: it must die of it, not shut down in order later."""
        result = subprocess.run(
            ["gdb", "-nx", "-batch", "-ex", "handle SIGTERM nostop noprint pass",
             "-ex", "break orbilatch::EventLoop::onTerminationSignals", "-ex", "run",
             "-ex", "call (int)kill((int)getpid(), 15)", "-ex", "continue", "--args", AGENT],
            env={**os.environ, **NO_BUS}, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        self.assertRegex(result.stdout, r"Breakpoint 1, (orbilatch::EventLoop::)?onTerminationSignals")
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


class ControllerLines(unittest.TestCase):
    def test_a_signal_stops_the_agent_while_a_flooding_controller_waits_in_its_write(self):
        """The agent takes a few hundred lines at a time; the rest of a flood
        waits in the pipe, and a signal is not held up behind it: only what
        was already taken in is handled before the shutdown."""
        with start_agent() as agent:
            flood = b'{"type":"command_acknowledgement","commandId":"1","status":"executed"}\n' * 500_000

            def write():
                with contextlib.suppress(BrokenPipeError):
                    agent.process.stdin.write(flood)

            threading.Thread(target=write, daemon=True).start()
            for _ in range(1000):
                agent.next_event()
            agent.signal(signal.SIGTERM)
            handled = 0
            while (event := agent.next_event(timeout=60)) != SHUTDOWN:
                handled += event["type"] == "ack_received_from_controller"
            self.assertLess(handled, 5000)
            self.assertEqual(agent.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
