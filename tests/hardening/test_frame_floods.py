"""Random values written by the watch through the stand-in bluetoothd: every
write is answered and reported as exactly one thing, in order, and the agent
goes on carrying commands and acknowledgements afterwards."""

import random
import unittest

from bluez.fake_bluez import pump_for
from bluez.testbed import Testbed

DESCRIPTIONS = {"BLE frame is empty", "BLE frame exceeds maximum size", "BLE frame is not UTF-8",
                "Malformed BLE command frame", "Invalid commandId", "Unknown BLE command"}
RATE_LIMITED = {"type": "malformed_command", "message": "BLE command rate limit exceeded"}
COMMANDS = {"N": "NEXT_SLIDE", "S": "START_PRESENTATION", "P": "PREVIOUS_SLIDE", "X": "END_PRESENTATION",
            "B": "TOGGLE_BLACK_SCREEN"}
PIECES = [b"PP1", b"OL2", b"|", b"C", b"A", b"N", b"S", b"P", b"X", b"B", b"42", b"a.b", b"\xff", b"\xc3\xa9",
          b"\x00", b"\n", b" ", b"|C|", b"abcdefghijklm"]


def random_value(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.randbytes(rng.randrange(0, 24))
    if kind == 1:
        return rng.randbytes(rng.randrange(24, 600))
    if kind == 2:
        return b"".join(rng.choice(PIECES) for _ in range(rng.randrange(1, 8)))
    tag, letters = rng.choice([(b"PP1", "NPX"), (b"OL2", "NSPXB")])
    return b"%s|C|r%d|%s" % (tag, rng.randrange(10**6), rng.choice(letters).encode())


class FrameFloodTest(unittest.TestCase):
    def test_random_values_are_each_answered_and_reported_once_in_order(self):
        rng = random.Random(3)
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            outcomes = {"decoded": 0, "refused by decoding": 0, "refused by the rate limit": 0}
            for _ in range(5):
                values = [random_value(rng) for _ in range(40)]
                results = watch.write_burst(values)
                for value, result in zip(values, results):
                    event = bed.agent.next_event()
                    if result is None:
                        tag, kind, command_id, letter = value.decode().split("|")
                        self.assertEqual(event, {"type": "command_received", "protocolVersion": 1 if tag == "PP1" else 2,
                                                 "commandId": command_id, "command": COMMANDS[letter]})
                        outcomes["decoded"] += 1
                    elif result == "org.bluez.Error.InvalidValueLength":
                        self.assertEqual(event["type"], "malformed_command", value)
                        self.assertIn(event["message"], DESCRIPTIONS, value)
                        outcomes["refused by decoding"] += 1
                    else:
                        self.assertEqual((result, result.message), ("org.bluez.Error.Failed", "0x11"), value)
                        self.assertEqual(event, RATE_LIMITED)
                        outcomes["refused by the rate limit"] += 1
                bed.agent.assert_no_output(within=0.1)
                pump_for(1.0)  # a fresh window for the next burst
            # How many the limit refused depends on how fast the bursts went.
            self.assertTrue(outcomes["decoded"] and outcomes["refused by decoding"], outcomes)

            bed.command_round_trip(watch, "after")


if __name__ == "__main__":
    unittest.main()
