#!/usr/bin/python3
"""Soak: the agent against the stand-in bluetoothd for a while, as a watch and
a controller use it, with the links failing now and then.

The watch writes commands at the rate limit, ten a second, and after a quiet
second a burst of fifteen at once, five beyond it; the controller acknowledges every command it is told of;
the watch drops its subscription (unsubscribing, or disconnecting) and takes it
up again; bluetoothd leaves the bus and returns. Nothing may be lost, in order:

- every write answered success has its command_received, every write refused
  by the rate limit its report and ATT error, and nothing else is reported;
- a burst that the agent handled within a second had at most ten admitted;
- every acknowledgement has its ack_received_from_controller; its frame is
  then notified, or replaced by a later acknowledgement while pending, and
  every wait for a watch is reported; the watch receives exactly the frames
  notified to it;
- nothing is written to standard error;
- the agent's resident memory is as large at the end as after a warm-up in
  which every disturbance happened once, give or take a little.

    tests/hardening/soak.py [--minutes 30] [--agent build/orbilatch-agent]
"""

import argparse
import collections
import json
import os
import queue
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from support.events import (ADVERTISING, CONNECTED, DISCONNECTED, RATE_LIMITED, RESETTING, SHUTDOWN,  # noqa: E402
                            WATCH_CONNECTED, WATCH_DISCONNECTED)

CYCLE_SECONDS = 10.0
BURST = 15
RATE = 10  # writes a second
# Every disturbance has happened once by the end of the third cycle.
WARM_UP_CYCLES = 3
# Resident memory may move by allocator noise, not by anything that grows with
# the number of commands.
RSS_SLACK_KIB = 1024

COMMANDS = {"N": "NEXT_SLIDE", "S": "START_PRESENTATION", "P": "PREVIOUS_SLIDE", "X": "END_PRESENTATION",
            "B": "TOGGLE_BLACK_SCREEN"}
FAILED = "org.bluez.Error.Failed"


class SoakFailure(AssertionError):
    pass




def vm_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise SoakFailure(f"no VmRSS for process {pid}")


class Soak:
    def __init__(self, bed, log):
        from bluez.fake_bluez import pump
        self.pump = pump
        self.bed = bed
        self.agent = bed.agent
        self.log = log
        self.watch = None
        self.address_index = 0
        self.serial = 0

        # Writes: what their answers promise, and what the agent reported, in order.
        self.promised = collections.deque()
        self.reported = collections.deque()
        # Acknowledgements: commands the controller holds back, sent and not yet reported.
        self.hold_acknowledgements = False
        self.held = []
        self.sent = collections.deque()
        self.pending = None
        self.subscribed = False
        self.notified_to_watch = []
        self.states = collections.deque()

        self.counts = collections.Counter()
        self.rss = {}

    # Reading the agent ------------------------------------------------------

    def drain(self):
        """Takes every event and diagnostic the agent has written so far."""
        while True:
            try:
                line = self.agent.stdout_lines.get_nowait()
            except queue.Empty:
                break
            if line is None:
                raise SoakFailure(f"the agent closed its standard output (exit status {self.agent.process.poll()})")
            self.observe(json.loads(line))
        try:
            diagnostic = self.agent.stderr_lines.get_nowait()
        except queue.Empty:
            return
        raise SoakFailure(f"unexpected diagnostic {diagnostic!r}")

    def observe(self, event):
        kind = event["type"]
        if kind in ("command_received", "malformed_command"):
            self.reported.append(event)
            self.match_writes()
            if kind == "command_received":
                self.controller_acknowledges(event["commandId"])
        elif kind == "ack_received_from_controller":
            if not self.sent:
                raise SoakFailure(f"{event} but no acknowledgement was sent")
            command_id, status = self.sent.popleft()
            if event != {"type": kind, "commandId": command_id, "status": status}:
                raise SoakFailure(f"{event} while {command_id} was the next acknowledgement sent")
            if self.pending is not None:
                self.counts["acknowledgements replaced while pending"] += 1
            self.pending = ack_frame(command_id, status)
        elif kind == "ack_notified":
            if self.pending is None or event["frame"] != self.pending:
                raise SoakFailure(f"{event} while {self.pending!r} was pending")
            if event["reason"] not in ("controller_ack", "subscribe", "peripheral_ready"):
                raise SoakFailure(f"{event} has an unknown reason")
            self.notified_to_watch.append(self.pending.encode())
            self.pending = None
            self.counts[f"acknowledgements notified ({event['reason']})"] += 1
        elif kind == "ack_waiting_for_subscriber":
            if self.pending is None or self.subscribed:
                raise SoakFailure(f"{event} with pending {self.pending!r}, subscribed {self.subscribed}")
            self.counts["waits for a watch reported"] += 1
        elif kind == "ack_notify_backpressure":
            if self.pending is None:
                raise SoakFailure(f"{event} with nothing pending")
            self.counts["back-pressure reported"] += 1
        elif kind == "ack_pending_on_disconnect":
            if self.pending is None:
                raise SoakFailure(f"{event} with nothing pending")
        elif kind in ("watch_connected", "watch_disconnected", "ble_state_changed"):
            if event == WATCH_CONNECTED:
                self.subscribed = True
            elif event == WATCH_DISCONNECTED:
                self.subscribed = False
            self.states.append(event)
        else:
            raise SoakFailure(f"unexpected event {event}")

    def match_writes(self):
        while self.promised and self.reported:
            promise, event = self.promised.popleft(), self.reported.popleft()
            if promise != event:
                raise SoakFailure(f"write answered as {promise} but reported as {event}")

    def serve(self, seconds):
        """Keeps the bus and the controller going for a while."""
        deadline = time.monotonic() + seconds
        while True:
            self.drain()
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return
            self.pump(min(remaining, 0.01))

    def serve_until(self, condition, what, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            self.drain()
            if condition():
                return
            if time.monotonic() > deadline:
                raise SoakFailure(f"timed out waiting for {what}; state events {list(self.states)}, "
                                  f"unread {self.agent.pending_output()}")
            self.pump(0.01)

    def expect_states(self, expected, any_order=False):
        self.serve_until(lambda: len(self.states) >= len(expected), f"state events {expected}")
        seen = [self.states.popleft() for _ in expected]
        if (sorted(map(json.dumps, seen)) != sorted(map(json.dumps, expected))) if any_order else seen != expected:
            raise SoakFailure(f"state events {seen}, expected {expected}")
        return seen

    def settle(self):
        """Waits until every write is reported, every acknowledgement reported
        and flushed, and the watch has every frame notified to it."""
        def settled():
            received = list(self.watch.notifications) if self.watch else []
            return (not self.promised and not self.reported and not self.sent and self.pending is None
                    and received == self.notified_to_watch)
        self.serve_until(settled, "writes, acknowledgements and notifications to settle")

    # The controller -----------------------------------------------------------

    def controller_acknowledges(self, command_id):
        if self.hold_acknowledgements:
            self.held.append(command_id)
        else:
            self.acknowledge(command_id)

    def acknowledge(self, command_id):
        failed = int(command_id[1:]) % 7 == 0
        message = {"type": "command_acknowledgement", "commandId": command_id, "protocolVersion": 2,
                   "status": "failed" if failed else "executed"}
        if failed:
            message["errorCode"] = "PRESENTATION_ENDED"
        self.agent.send(message)
        self.sent.append((command_id, message["status"]))
        self.counts["acknowledgements sent"] += 1

    def release_and_wait_for_a_watch(self):
        """Sends the held acknowledgements while no watch is subscribed; the
        last one's flush reports the wait."""
        self.hold_acknowledgements = False
        waits = self.counts["waits for a watch reported"]
        for command_id in self.held:
            self.acknowledge(command_id)
        if self.held:
            self.serve_until(lambda: self.counts["waits for a watch reported"] > waits,
                             "the acknowledgement to be reported as waiting")
        self.held = []

    # The watch ----------------------------------------------------------------

    def next_frame(self):
        self.serial += 1
        command_id = f"k{self.serial}"
        if self.serial % 4 == 0:
            letter = "NPX"[self.serial // 4 % 3]
            return f"PP1|C|{command_id}|{letter}".encode(), {
                "type": "command_received", "protocolVersion": 1, "commandId": command_id, "command": COMMANDS[letter]}
        letter = "NSPXB"[self.serial % 5]
        return f"OL2|C|{command_id}|{letter}".encode(), {
            "type": "command_received", "protocolVersion": 2, "commandId": command_id, "command": COMMANDS[letter]}

    def promise(self, result, received, subscribed=True, kind="paced"):
        """What the agent must have reported for a write answered `result`."""
        if result is None:
            self.promised.append(received)
            self.counts[f"{kind} writes accepted"] += 1
            return True
        if result == FAILED and result.message == "0x11":
            self.promised.append(RATE_LIMITED)
            self.counts[f"{kind} writes refused by the rate limit"] += 1
            return False
        if result == FAILED and result.message == "0x0e" and not subscribed:
            self.counts["writes refused while unsubscribed"] += 1
            return False
        raise SoakFailure(f"write of {received['commandId']} answered {result!r}")

    def write_paced(self, seconds):
        started = time.monotonic()
        for n in range(int(seconds * RATE)):
            self.serve(max(0.0, started + n / RATE - time.monotonic()))
            frame, received = self.next_frame()
            self.promise(self.watch.write(frame), received)
            self.match_writes()

    def write_burst(self):
        frames = [self.next_frame() for _ in range(BURST)]
        started = time.monotonic()
        results = self.watch.write_burst([frame for frame, _ in frames])
        elapsed = time.monotonic() - started
        admitted = sum(self.promise(result, received, kind="burst")
                       for result, (_, received) in zip(results, frames))
        self.match_writes()
        if elapsed < 1.0 and admitted > RATE:
            raise SoakFailure(f"{admitted} writes of a burst handled within {elapsed:.3f} s were admitted")
        self.counts["bursts"] += 1

    def connect_watch(self):
        self.address_index += 1
        self.watch = self.bed.central(f"AA:BB:CC:DD:{self.address_index // 256:02X}:{self.address_index % 256:02X}")
        self.subscribe()

    def subscribe(self):
        self.notified_to_watch = []
        self.watch.notifications.clear()
        result = self.watch.subscribe()
        if result is not None:
            raise SoakFailure(f"AcquireNotify answered {result!r}")
        self.expect_states([WATCH_CONNECTED, CONNECTED])

    # Disturbances -------------------------------------------------------------

    def drop_subscription(self, disconnect):
        """The watch goes away with commands unacknowledged, writes in vain
        while away, and comes back to the acknowledgement that waited."""
        self.settle()
        self.hold_acknowledgements = True
        self.write_paced(0.3)
        if disconnect:
            self.watch.disconnect()
        else:
            self.watch.unsubscribe()
        self.expect_states([WATCH_DISCONNECTED, DISCONNECTED, ADVERTISING])
        if disconnect:
            self.watch.reconnect()
        for _ in range(2):
            frame, received = self.next_frame()
            self.promise(self.watch.write(frame), received, subscribed=False)
        self.release_and_wait_for_a_watch()
        self.subscribe()
        self.settle()
        self.counts["subscriptions dropped"] += 1

    def restart_bluetoothd(self):
        """bluetoothd leaves with the watch subscribed and commands
        unacknowledged; the acknowledgement waits for the next watch."""
        self.settle()
        self.hold_acknowledgements = True
        self.write_paced(0.3)
        self.bed.bluez.leave()
        self.expect_states([WATCH_DISCONNECTED, DISCONNECTED, RESETTING], any_order=True)
        self.release_and_wait_for_a_watch()
        self.bed.bluez.start()
        self.expect_states([ADVERTISING])
        self.connect_watch()
        self.settle()
        self.counts["bluetoothd restarts"] += 1

    def shut_down(self):
        """The controller stops the agent, which must leave in order (and a
        sanitized build then checks for leaks)."""
        self.agent.send({"type": "shutdown"})
        self.expect_states([SHUTDOWN])
        status = self.agent.wait_exit()
        if status != 0:
            raise SoakFailure(f"the agent exited with status {status} after the shutdown request")

    # The run ------------------------------------------------------------------

    def run(self, minutes):
        pid = self.agent.process.pid
        self.expect_states([ADVERTISING])
        self.connect_watch()
        self.rss["start"] = vm_rss_kib(pid)
        started = time.monotonic()
        end = started + minutes * 60
        cycle = 0
        while time.monotonic() < end:
            cycle += 1
            self.write_paced(min(CYCLE_SECONDS - 5, max(1.0, end - time.monotonic())))
            self.serve(1.0)
            self.write_burst()
            self.serve(1.0)
            if cycle % 3 == 1:
                self.drop_subscription(disconnect=cycle % 2 == 0)
            elif cycle % 3 == 2:
                self.restart_bluetoothd()
            self.settle()
            rss = vm_rss_kib(pid)
            if cycle <= WARM_UP_CYCLES:
                self.rss["after warm-up"] = rss
            self.rss["largest"] = max(self.rss.get("largest", 0), rss)
            self.log(f"cycle {cycle}: {time.monotonic() - started:6.1f} s, {self.serial} writes, RSS {rss} KiB")
        self.settle()
        self.rss["end"] = vm_rss_kib(pid)
        elapsed = time.monotonic() - started
        self.shut_down()

        self.log(f"soak: {elapsed / 60:.1f} min, {self.serial} writes")
        for name, count in sorted(self.counts.items()):
            self.log(f"  {name}: {count}")
        self.log("  RSS (KiB): " + ", ".join(f"{name} {value}" for name, value in self.rss.items()))
        growth = self.rss["end"] - self.rss["after warm-up"]
        if growth > RSS_SLACK_KIB:
            raise SoakFailure(f"resident memory grew by {growth} KiB after warm-up")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=1.0)
    parser.add_argument("--agent", default=os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent"))
    args = parser.parse_args()
    os.environ["ORBILATCH_AGENT"] = os.path.abspath(args.agent)

    from bluez.testbed import Testbed

    def log(text):
        print(text, flush=True)

    try:
        with Testbed() as bed:
            Soak(bed, log).run(args.minutes)
    except AssertionError as failure:
        log(f"FAILED: {failure}")
        log("0 passed, 1 failed")
        return 1
    log("1 passed, 0 failed")
    return 0


def ack_frame(command_id, status):
    return f"OL2|A|{command_id}|{'E' if status == 'executed' else 'X'}"


if __name__ == "__main__":
    sys.exit(main())
