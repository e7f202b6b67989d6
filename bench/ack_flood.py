#!/usr/bin/python3
"""Feeds the agent a flood of acknowledgement lines at once and measures how
many controller lines it handles per second and its peak resident memory.
Fails unless every line is reported and every flush runs, in order."""

import argparse
import os
import subprocess
import threading
import time

ACK = b'{"type":"command_acknowledgement","commandId":"%d","status":"executed","protocolVersion":2}\n'
RECEIVED = b'{"type":"ack_received_from_controller","commandId":"%d","status":"executed"}\n'
WAITING = b'{"type":"ack_waiting_for_subscriber","reason":"controller_ack"}\n'
SHUTDOWN = b'{"type":"ble_state_changed","state":"disconnected","message":"shutdown"}\n'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", default=os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent"))
    parser.add_argument("--lines", type=int, default=100_000)
    args = parser.parse_args()

    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/orbilatch-bench-bus")
    agent = subprocess.Popen([args.agent], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
    agent.stdout.readline()  # the adapter state

    payload = b"".join(ACK % i for i in range(args.lines))
    started = time.monotonic()
    writer = threading.Thread(target=lambda: (agent.stdin.write(payload), agent.stdin.flush()))
    writer.start()

    # Read in large pieces, and let a piece grow before reading it, so that
    # the measurement is of the agent rather than of a reader woken by each
    # line.
    received = waiting = 0
    last_reported_before_flush = True
    rest = b""
    while received < args.lines or waiting < args.lines:
        piece = os.read(agent.stdout.fileno(), 1 << 20)
        if len(piece) < 1 << 15:
            time.sleep(0.002)
        lines = (rest + piece).split(b"\n")
        rest = lines.pop()
        for line in lines:
            if line == WAITING[:-1]:
                waiting += 1
                last_reported_before_flush &= waiting <= received
            elif line + b"\n" == RECEIVED % received:
                received += 1
            else:
                raise SystemExit(f"unexpected line after {received} reports and {waiting} flushes: {line!r}")
    elapsed = time.monotonic() - started
    writer.join()
    # The agent's own high-water mark: the rusage of a child also counts the
    # interpreter it was forked from, before the exec.
    with open(f"/proc/{agent.pid}/status") as status:
        peak_kib = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

    agent.stdin.write(b'{"type":"shutdown"}\n')
    agent.stdin.flush()
    if rest + agent.stdout.readline() != SHUTDOWN:
        raise SystemExit("no shutdown event")
    _, status, _ = os.wait4(agent.pid, 0)
    if not last_reported_before_flush or status != 0:
        raise SystemExit("a flush ran before its acknowledgement was reported, or a bad exit")

    print(f"{args.lines} acknowledgement lines: {elapsed:.3f} s, {args.lines / elapsed:,.0f} lines/s, "
          f"peak RSS {peak_kib / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
