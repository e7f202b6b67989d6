#!/usr/bin/python3
"""How long a command from the watch takes to reach the controller: from the
WriteValue that the stand-in bluetoothd sends as the watch to the line the
agent writes for it on standard output, set against the bare D-Bus round trip
of a Ping to the agent on the same private bus.

Two runs, one write in flight at a time:

- accepted writes, each with its own commandId, paced so that the rate limit
  (ten writes a second) never refuses one: the next write goes out a period
  after the previous one was answered, so the agent sees them at least that
  far apart however late a slow machine runs; a Ping goes out halfway
  between two writes, so both find the agent equally idle;
- refused writes at full speed: frames that fail to decode, each sent as soon
  as the previous one has its answer and its line, with a Ping between two
  writes. They count against the rate limit too, so most are refused by it;
  the two kinds of refusal are reported apart. The run starts in a fresh
  rate-limit window, so the first ten or so are refused by decoding.

Timestamps are time.monotonic_ns(): taken just before a call goes out, in the
reply callback for an answer, and by the thread that reads the agent's
standard output as a line arrives. Reported per kind: median and p99 of the
write-to-line latency and of the write's own D-Bus answer, of the Pings, and
the ratio of line latency to Ping.

The figures are for reading, not judging; the run fails only when something is
wrong: an accepted write without its command_received line, a line out of
order or not the one expected, a D-Bus answer that does not fit the write, or
any other output.

    bench/write_latency.py [--accepted 1000] [--refused 1000] [--quick] [--agent build/orbilatch-agent]
"""

import argparse
import gc
import json
import math
import os
import queue
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

SKIPPED = 77  # CTest's SKIP_RETURN_CODE for this test

# The agent admits ten writes in any 1.0 s; eleven writes a period apart span 1.05 s.
PERIOD_S = 0.105
COMMANDS = {"N": "NEXT_SLIDE", "S": "START_PRESENTATION", "P": "PREVIOUS_SLIDE", "X": "END_PRESENTATION",
            "B": "TOGGLE_BLACK_SCREEN"}
REFUSED_FRAME = "XX|C|{}|N"  # an unknown version tag: refused by decoding

# The line a refused write produces, the error it is answered with, and that
# error's message where it matters (the ATT error a Failed answer carries).
INVALID_LENGTH = "org.bluez.Error.InvalidValueLength"
FAILED = "org.bluez.Error.Failed"
DECODING = ({"type": "malformed_command", "message": "Malformed BLE command frame"}, INVALID_LENGTH, None)
RATE_LIMIT = ({"type": "malformed_command", "message": "BLE command rate limit exceeded"}, FAILED, "0x11")
SHUTDOWN = {"type": "ble_state_changed", "state": "disconnected", "message": "shutdown"}

ANSWER_TIMEOUT_S = 10.0
LINE_TIMEOUT_S = 10.0


class BenchFailure(Exception):
    pass


class Bench:
    """Sends as the watch, and as bluetoothd pings, over the stand-in's own
    connection, so both go through the same bus daemon to the same agent."""

    def __init__(self, bed, watch):
        import dbus
        from bluez import fake_bluez
        self.dbus = dbus
        self.fake = fake_bluez
        self.bed = bed
        self.conn = bed.bluez.conn
        application = bed.hci0.application
        # The agent's unique name: where bluetoothd's calls to the application go.
        self.agent_name = application.owner
        self.command_path = application.characteristic(fake_bluez.COMMAND_UUID).path
        self.options = dbus.Dictionary({"device": dbus.ObjectPath(watch.path), "link": dbus.String("LE"),
                                        "mtu": dbus.UInt16(fake_bluez.LE_MTU)}, signature="sv")

    # One call, timed -----------------------------------------------------------------

    def _call(self, destination, path, interface, method, signature, args):
        """Sends the call and serves the bus until it is answered. Returns
        (sent_ns, answered_ns, None or the DBusError)."""
        outcome = []

        def reply(*_):
            outcome.append((time.monotonic_ns(), None))

        def error(exception):
            outcome.append((time.monotonic_ns(), self.fake.DBusError.from_exception(exception)))

        sent = time.monotonic_ns()
        self.conn.call_async(destination, path, interface, method, signature, args, reply, error,
                             timeout=self.fake.WRITE_TIMEOUT)
        self.fake.pump_until(lambda: outcome, ANSWER_TIMEOUT_S, f"an answer to {method}")
        answered, result = outcome[0]
        return sent, answered, result

    def write(self, frame):
        value = self.dbus.Array([self.dbus.Byte(b) for b in frame.encode()], signature="y")
        return self._call(self.agent_name, self.command_path, self.fake.GATT_CHARACTERISTIC, "WriteValue",
                          "aya{sv}", (value, self.options))

    # Ping on the agent, not GetNameOwner on the bus daemon: a write and a Ping
    # both cross the same dbus-daemon into the same process and wake the same
    # event loop and D-Bus dispatch, so what the ratio leaves over is the
    # agent's own work on a write (decoding, the rate limit, the JSON line) and
    # the pipe to the controller. A call the daemon answers itself never wakes
    # the agent and would charge the agent for being a process at all. Note that
    # a Ping goes through the daemon twice where a write's line goes through it
    # once and then through a pipe; the write's own D-Bus answer, reported
    # alongside, is the like-for-like round trip.
    def ping(self):
        sent, answered, result = self._call(self.agent_name, "/", "org.freedesktop.DBus.Peer", "Ping", "", ())
        if result is not None:
            raise BenchFailure(f"Ping to the agent answered {result!r}")
        return answered - sent

    def next_line(self, what):
        """The agent's next stdout line, as (arrival ns, event). Blocks on the
        reader's queue, so it returns the moment the line is there."""
        try:
            line = self.bed.agent.stdout_lines.get(timeout=LINE_TIMEOUT_S)
        except queue.Empty:
            raise BenchFailure(f"no line within {LINE_TIMEOUT_S:g} s for {what}") from None
        if line is None:
            raise BenchFailure(f"the agent closed its standard output before the line for {what}")
        try:
            return line.arrived_ns, json.loads(line)
        except ValueError:
            raise BenchFailure(f"not a JSON line for {what}: {line!r}") from None

    # The two runs ----------------------------------------------------------------------

    def accepted_run(self, count):
        lines, answers, pings = [], [], []
        next_write = time.monotonic()
        for n in range(1, count + 1):
            command_id = f"w{n}"
            letter = "NSPXB"[n % 5]
            what = f"accepted write {n} (commandId {command_id})"
            wait_until(next_write)
            sent, answered, result = self.write(f"OL2|C|{command_id}|{letter}")
            if result is not None:
                raise BenchFailure(f"{what} answered {result!r} ({result.message!r}), not success")
            arrived, event = self.next_line(what)
            expected = {"type": "command_received", "protocolVersion": 2, "commandId": command_id,
                        "command": COMMANDS[letter]}
            if event != expected:
                if event.get("type") == "command_received" and event.get("commandId") != command_id:
                    raise BenchFailure(f"out of order: for {what} the agent reported {event}")
                raise BenchFailure(f"{what} lacks its command_received line {expected}; got {event}")
            lines.append(arrived - sent)
            answers.append(answered - sent)

            answered_s = answered / 1e9
            next_write = answered_s + PERIOD_S
            wait_until(answered_s + PERIOD_S / 2)
            pings.append(self.ping())
            progress(n, count, "accepted writes")
        return {"accepted": (lines, answers)}, pings

    def refused_run(self, count):
        kinds = {"refused by decoding": ([], []), "refused by the rate limit": ([], [])}
        pings = []
        for n in range(1, count + 1):
            what = f"refused write {n}"
            sent, answered, result = self.write(REFUSED_FRAME.format(n))
            arrived, event = self.next_line(what)
            for kind, (expected_event, error, message) in zip(kinds, (DECODING, RATE_LIMIT)):
                if event == expected_event:
                    break
            else:
                raise BenchFailure(f"{what}: unexpected line {event}")
            if result != error or (message is not None and result.message != message):
                raise BenchFailure(f"{what} was reported as {event['message']!r} but answered {result!r}, "
                                   f"not {error}" + (f" {message!r}" if message is not None else ""))
            kinds[kind][0].append(arrived - sent)
            kinds[kind][1].append(answered - sent)
            pings.append(self.ping())
            progress(n, count, "refused writes")
        return kinds, pings


def wait_until(deadline_s):
    """Serve the bus until time.monotonic() reaches the deadline."""
    remaining = deadline_s - time.monotonic()
    if remaining > 0:
        from bluez.fake_bluez import pump_for
        pump_for(remaining)


def progress(n, count, what):
    if n % 200 == 0 or n == count:
        print(f"  {n}/{count} {what}", file=sys.stderr, flush=True)


def p99(samples):
    ordered = sorted(samples)
    return ordered[max(0, math.ceil(0.99 * len(ordered)) - 1)]


def report(title, kinds, pings):
    def row(label, samples):
        return f"    {label:30}{len(samples):6}{statistics.median(samples) / 1000:11.1f} us{p99(samples) / 1000:11.1f} us"

    print(title)
    print(f"    {'':30}{'n':>6}{'median':>14}{'p99':>14}")
    ping_median, ping_p99 = statistics.median(pings), p99(pings)
    for kind, (lines, answers) in kinds.items():
        if not lines:
            continue
        print(f"  {kind}")
        print(row("write to its line", lines))
        print(row("write to its D-Bus answer", answers))
        print(f"    {'line / Ping':30}{'':6}{statistics.median(lines) / ping_median:13.2f}x"
              f"{p99(lines) / ping_p99:13.2f}x")
    print(f"  baseline")
    print(row("Ping to the agent, round trip", pings))


def shut_down(bed):
    bed.agent.send({"type": "shutdown"})
    event = bed.agent.next_event()
    if event != SHUTDOWN:
        raise BenchFailure(f"expected the shutdown event, got {event}")
    status = bed.agent.wait_exit()
    if status != 0:
        raise BenchFailure(f"the agent exited with status {status} after the shutdown request")
    bed.agent.assert_no_output(within=0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--accepted", type=int, help="paced accepted writes (default 1000; 50 with --quick)")
    parser.add_argument("--refused", type=int, help="refused writes at full speed (default 1000; 50 with --quick)")
    parser.add_argument("--quick", action="store_true", help="a short smoke run")
    parser.add_argument("--agent", default=os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent"))
    args = parser.parse_args()
    accepted = args.accepted if args.accepted is not None else (50 if args.quick else 1000)
    refused = args.refused if args.refused is not None else (50 if args.quick else 1000)
    if accepted < 1 or refused < 1:
        parser.error("--accepted and --refused need at least one write each")

    os.environ["ORBILATCH_AGENT"] = os.path.abspath(args.agent)
    import unittest
    from bluez.testbed import Testbed

    # The reader thread stamps a line only once it holds the interpreter lock;
    # a short switch interval keeps it from waiting long for the main thread.
    sys.setswitchinterval(0.0001)
    try:
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            bench = Bench(bed, watch)
            for _ in range(20):  # warm the call path up; a Ping costs no writes
                bench.ping()
            print(f"{accepted} accepted writes, one every {PERIOD_S * 1000:g} ms at the least "
                  f"(~{accepted * PERIOD_S / 60:.1f} min), then {refused} refused ones at full speed",
                  file=sys.stderr, flush=True)
            gc.disable()  # the collector would pause the stamping threads
            try:
                accepted_kinds, paced_pings = bench.accepted_run(accepted)
                wait_until(time.monotonic() + 1.1)  # a fresh rate-limit window for the refused run
                refused_kinds, full_speed_pings = bench.refused_run(refused)
            finally:
                gc.enable()
            shut_down(bed)
    except unittest.SkipTest as reason:
        print(f"skipped: {reason}")
        return SKIPPED
    except (BenchFailure, AssertionError) as failure:
        print(f"FAILED: {failure}")
        return 1

    report(f"Accepted writes, paced (one every {PERIOD_S * 1000:g} ms at the least, a Ping halfway between):",
           accepted_kinds, paced_pings)
    report("Refused writes, full speed (one in flight, a Ping between two):", refused_kinds, full_speed_pings)
    return 0


if __name__ == "__main__":
    sys.exit(main())
