"""A controller's flood of acknowledgement lines and the agent's answer to
it, with no watch subscribed: every line reported, in order, and each one's
flush after its report. For the flood benchmark and the process tests."""

import os
import time

ACK = b'{"type":"command_acknowledgement","commandId":"%d","status":"executed","protocolVersion":2}\n'
RECEIVED = b'{"type":"ack_received_from_controller","commandId":"%d","status":"executed"}'
WAITING = b'{"type":"ack_waiting_for_subscriber","reason":"controller_ack"}'
SHUTDOWN = b'{"type":"ble_state_changed","state":"disconnected","message":"shutdown"}'


def flood(count):
    return b"".join(ACK % i for i in range(count))


def output_lines(fd):
    """The lines written to fd, to its end. Read in large pieces, each let
    grow a moment before it is read, so that a reader woken by each line does
    not slow the agent."""
    rest = b""
    while piece := os.read(fd, 1 << 20):
        if len(piece) < 1 << 15:
            time.sleep(0.002)
        lines = (rest + piece).split(b"\n")
        rest = lines.pop()
        yield from lines


def expect_answer(lines, count):
    """Takes the answer to a flood of count lines from lines; raises
    AssertionError at the first line out of place."""
    received = waiting = 0
    while waiting < count:
        line = next(lines)
        if line == WAITING and waiting < received:
            waiting += 1
        elif line == RECEIVED % received:
            received += 1
        else:
            raise AssertionError(f"after {received} reports and {waiting} flushes: {line!r}")
