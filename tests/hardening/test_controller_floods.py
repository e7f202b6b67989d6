"""Megabytes of bad input on the agent's standard input: every line still has
exactly one outcome, and the agent goes on serving its controller."""

import os
import random
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from support.agent import AgentProcess  # noqa: E402

NO_BUS = {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/orbilatch-test-bus"}
UNSUPPORTED_PLATFORM = {"type": "ble_state_changed", "state": "unavailable",
                        "message": "Bluetooth LE peripheral mode is unsupported"}
SHUTDOWN = {"type": "ble_state_changed", "state": "disconnected", "message": "shutdown"}
REFUSALS = ("Ignoring malformed controller input", "Ignoring unsupported controller input",
            "Ignoring oversized acknowledgement for ")
SENTINEL = b'{"type":"command_acknowledgement","commandId":"sentinel","status":"executed"}\n'

VALID = [
    b'{"type":"command_acknowledgement","commandId":"42","status":"executed","protocolVersion":2}',
    b'{"type":"command_acknowledgement","commandId":"7","status":"failed","errorCode":"PRESENTATION_ENDED"}',
    b'{"type":"command_acknowledgement","commandId":"a.b:c-1_2","status":"done","errorCode":null}',
    b' {"protocolVersion":1e2,"status":"x","commandId":"\\u00e9\\/","type":"command_acknowledgement"} ',
]
NOISE = b'{}[]":,\\ -+.0123456789eEabcdefnulrtsu\x00\x01\x7f\xc3\xa9\xed\xa0\x80\xff\r\t'


def near_valid_line(rng):
    """A controller message bent out of shape: cut, spliced, retyped or blown up."""
    line = bytearray(rng.choice(VALID))
    operation = rng.randrange(9)
    if operation == 0:
        del line[rng.randrange(len(line)):]
    elif operation == 1:
        for _ in range(rng.randint(1, 4)):
            del line[rng.randrange(len(line))]
    elif operation == 2:
        for _ in range(rng.randint(1, 4)):
            line.insert(rng.randrange(len(line) + 1), rng.choice(NOISE))
    elif operation == 3:
        value = rng.choice([b"1", b"-1.5e308", b"1e400", b"null", b"true", b"[]", b"{}", b'"2"',
                            b"99999999999999999999999", b'"\\ud800"', b'"\\u0000"'])
        line = bytearray(line.replace(b'"executed"', value, 1).replace(b'"42"', value, 1))
    elif operation == 4:
        depth = 100_000 if rng.random() < 0.01 else rng.choice([10, 1000])
        line = bytearray(b'{"type":"command_acknowledgement","commandId":' + b"[" * depth + b"1" + b"]" * depth
                         + b',"status":"x"}')
    elif operation == 5:
        line = bytearray(b'{"type":"command_acknowledgement","commandId":"' + b"x" * (200_000 if rng.random() < 0.01 else rng.randint(13, 64))
                         + b'","status":"executed"}')
    elif operation == 6:
        line = bytearray(line.replace(b'"type":"command_acknowledgement"', b'"type":"command_acknowledgement",' * 3)
                         .replace(b'"type"', b'"Type"', rng.randint(0, 1)))
    elif operation == 7:
        line = bytearray(line + line)
    else:
        line = bytearray(line[: rng.randrange(len(line))] + bytes([0xc3]) + line[rng.randrange(len(line)):])
    return bytes(line).replace(b"\n", b" ")


class ControllerFloodTest(unittest.TestCase):
    def setUp(self):
        self.agent = self.enterContext(AgentProcess(env=NO_BUS))
        self.agent.expect_event(UNSUPPORTED_PLATFORM)

    def assert_still_serving(self):
        self.agent.send({"type": "command_acknowledgement", "commandId": "after", "status": "executed"})
        self.agent.expect_event({"type": "ack_received_from_controller", "commandId": "after", "status": "executed"})
        self.agent.expect_event({"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
        self.agent.send({"type": "shutdown"})
        self.agent.expect_event(SHUTDOWN)
        self.assertEqual(self.agent.wait_exit(), 0)
        # No line had a second outcome.
        self.assertIsNone(self.agent.stderr_lines.get(timeout=10))

    def assert_one_outcome_per_line(self, lines, events, diagnostics):
        """Each line gave one refusal on standard error or one acknowledgement
        report, whose flush then reported the wait."""
        received = [e for e in events if e["type"] == "ack_received_from_controller"]
        waits = [e for e in events if e == {"type": "ack_waiting_for_subscriber", "reason": "controller_ack"}]
        self.assertEqual(len(received) + len(diagnostics), lines)
        self.assertEqual(len(received) + len(waits), len(events))
        self.assertTrue(all(d.startswith(REFUSALS) for d in diagnostics),
                        [d[:100] for d in diagnostics if not d.startswith(REFUSALS)][:5])
        return received

    def test_megabytes_of_random_bytes(self):
        rng = random.Random(1)
        payload = rng.randbytes(4 << 20) + b"\n"
        lines, events, diagnostics = self.flood(payload)
        self.assertEqual(self.assert_one_outcome_per_line(lines, events, diagnostics), [])
        self.assertEqual(set(diagnostics), {"Ignoring malformed controller input"})
        self.assert_still_serving()

    def test_megabytes_of_near_valid_json(self):
        rng = random.Random(2)
        chunks, size = [], 0
        while size < 4 << 20:
            line = near_valid_line(rng)
            if b"shutdown" in line:
                continue
            chunks.append(line + rng.choice([b"\n", b"\r\n"]))
            size += len(chunks[-1])
        lines, events, diagnostics = self.flood(b"".join(chunks))
        received = self.assert_one_outcome_per_line(lines, events, diagnostics)
        # Every kind of outcome but shutdown came up.
        self.assertGreater(len(received), 0)
        for refusal in REFUSALS:
            self.assertTrue(any(d.startswith(refusal) for d in diagnostics), refusal)
        self.assert_still_serving()

    def flood(self, payload):
        """Floods, then collects exactly one outcome per line: the events up
        to the sentinel's report, and as many diagnostics as lines that were
        not acknowledgements; then nothing more may come."""
        lines = payload.count(b"\n")
        writer = threading.Thread(target=lambda: (self.agent.process.stdin.write(payload + SENTINEL),
                                                  self.agent.process.stdin.flush()))
        writer.start()
        events = []
        while True:
            event = self.agent.next_event(timeout=120)
            if event.get("commandId") == "sentinel":
                break
            events.append(event)
        writer.join()
        # Each acknowledgement's flush reports the wait 50 ms after it, the
        # sentinel's too.
        received = sum(e["type"] == "ack_received_from_controller" for e in events)
        while sum(e["type"] == "ack_waiting_for_subscriber" for e in events) < received:
            events.append(self.agent.next_event())
        self.agent.expect_event({"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
        refusals = lines - received
        # Every line before the sentinel was handled before it, so their
        # diagnostics are written by now.
        diagnostics = [self.agent.next_diagnostic(timeout=30) for _ in range(max(refusals, 0))]
        print(f"{len(payload)} bytes, {lines} lines, {received} acknowledgements, {len(diagnostics)} refusals")
        return lines, events, diagnostics


if __name__ == "__main__":
    unittest.main()
