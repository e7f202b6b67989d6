"""The agent binary as its controller sees it: start-up, controller lines,
signals and shutdown, with no Bluetooth stack reachable."""

import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from support.agent import AgentProcess  # noqa: E402
from support.events import SHUTDOWN, UNSUPPORTED  # noqa: E402

NO_BUS = {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/orbilatch-test-bus"}


def start_agent(**options):
    agent = AgentProcess(env=NO_BUS, **options)
    agent.expect_event(UNSUPPORTED)
    return agent


class Shutdown(unittest.TestCase):
    def test_a_shutdown_line_reports_once_and_exits_with_status_zero(self):
        with start_agent() as agent:
            agent.send({"type": "shutdown", "commandId": "ignored"})
            self.assertEqual(agent.next_raw_line(),
                             b'{"type":"ble_state_changed","state":"disconnected","message":"shutdown"}\n')
            self.assertEqual(agent.wait_exit(), 0)
            self.assertIsNone(agent.next_raw_line())

    def test_sigint_and_sigterm_shut_down_the_same_way(self):
        for signum in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=signum.name), start_agent() as agent:
                agent.signal(signum)
                agent.expect_event(SHUTDOWN)
                self.assertEqual(agent.wait_exit(), 0)
                self.assertIsNone(agent.next_raw_line())

    def test_a_second_request_while_stopping_exits_at_once_without_a_second_event(self):
        for second in ("signal", "line"):
            with self.subTest(second=second), start_agent() as agent:
                agent.signal(signal.SIGINT)
                agent.expect_event(SHUTDOWN)
                if second == "signal":
                    agent.signal(signal.SIGTERM)
                else:
                    agent.send({"type": "shutdown"})
                self.assertEqual(agent.wait_exit(), 0)
                self.assertIsNone(agent.next_raw_line())

    def test_input_at_end_from_the_start_keeps_the_agent_running(self):
        with start_agent(stdin=subprocess.DEVNULL) as agent:
            agent.assert_no_output(within=0.5)
            self.assertTrue(agent.is_running())
            agent.signal(signal.SIGTERM)
            agent.expect_event(SHUTDOWN)
            self.assertEqual(agent.wait_exit(), 0)

    def test_closing_input_later_keeps_the_agent_running(self):
        with start_agent() as agent:
            agent.process.stdin.write(b'{"type":"command_acknowledgement","commandId":"1","status":"executed"}')
            agent.close_stdin()
            agent.expect_event({"type": "ack_received_from_controller", "commandId": "1", "status": "executed"})
            agent.expect_event({"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
            agent.assert_no_output(within=0.3)
            self.assertTrue(agent.is_running())


class ControllerLines(unittest.TestCase):
    def test_bad_input_is_refused_on_standard_error_only(self):
        with start_agent() as agent:
            agent.send_line(b"not json\r\n")
            agent.send_line(b"\r\n")
            agent.send_line(b'{"type":"SHUTDOWN"}')
            agent.send_line(b'{"type":"command_acknowledgement","commandId":"\xff\xfe","status":"x"}')
            agent.send_line(b'{"type":"command_acknowledgement","commandId":"abcdefghijklm","status":"x"}')
            agent.expect_diagnostic("Ignoring malformed controller input")
            agent.expect_diagnostic("Ignoring malformed controller input")
            agent.expect_diagnostic("Ignoring unsupported controller input")
            self.assertEqual(agent.next_raw_line(),
                             '{"type":"ack_received_from_controller","commandId":"\ufffd\ufffd","status":"x"}\n'
                             .encode())
            agent.expect_diagnostic("Ignoring oversized acknowledgement for abcdefghijklm")
            agent.expect_event({"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
            agent.assert_no_output()

    def test_every_line_of_a_burst_is_handled_in_order(self):
        with start_agent() as agent:
            ids = [f"id{i}" for i in range(200)]
            agent.process.stdin.write(b"".join(
                b'{"type":"command_acknowledgement","commandId":"%s","status":"executed"}\n' % i.encode()
                for i in ids))
            agent.process.stdin.flush()
            received = [agent.next_event() for _ in range(2 * len(ids))]
            self.assertEqual([e["commandId"] for e in received if e["type"] == "ack_received_from_controller"], ids)
            self.assertEqual(sum(e["type"] == "ack_waiting_for_subscriber" for e in received), len(ids))


if __name__ == "__main__":
    unittest.main()
