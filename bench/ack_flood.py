#!/usr/bin/python3
"""Feeds the agent a flood of acknowledgement lines at once and measures how
many controller lines it handles per second, its peak resident memory and
the CPU time it takes in all.
Fails unless every line is reported and every flush runs, in order."""

import argparse
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from agent_flood import SHUTDOWN, expect_answer, flood, output_lines  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", default=os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent"))
    parser.add_argument("--lines", type=int, default=100_000)
    args = parser.parse_args()

    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/orbilatch-bench-bus")
    agent = subprocess.Popen([args.agent], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
    lines = output_lines(agent.stdout.fileno())
    next(lines)  # the adapter state

    payload = flood(args.lines)
    started = time.monotonic()
    writer = threading.Thread(target=lambda: (agent.stdin.write(payload), agent.stdin.flush()))
    writer.start()
    try:
        expect_answer(lines, args.lines)
    except AssertionError as error:
        raise SystemExit(str(error))
    elapsed = time.monotonic() - started
    writer.join()
    # The agent's own high-water mark: the rusage of a child also counts the
    # interpreter it was forked from, before the exec.
    with open(f"/proc/{agent.pid}/status") as status:
        peak_kib = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

    agent.stdin.write(b'{"type":"shutdown"}\n')
    agent.stdin.flush()
    if next(lines) != SHUTDOWN:
        raise SystemExit("no shutdown event")
    _, status, usage = os.wait4(agent.pid, 0)
    if status != 0:
        raise SystemExit("a bad exit")

    print(f"{args.lines} acknowledgement lines: {elapsed:.3f} s, {args.lines / elapsed:,.0f} lines/s, "
          f"peak RSS {peak_kib / 1024:.1f} MiB, CPU {usage.ru_utime + usage.ru_stime:.3f} s")


if __name__ == "__main__":
    main()
