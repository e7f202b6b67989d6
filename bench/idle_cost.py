#!/usr/bin/python3
"""What the agent costs while nothing happens: it advertises against the
stand-in bluetoothd (and then serves a subscribed watch) and is left alone.
Counts the context switches of each of its threads over the interval, read
from /proc/<pid>/task/*/status, and reports its resident memory. An idle
agent has no timer and nothing to poll, so every count must be zero; the
script fails otherwise.

    bench/idle_cost.py [--seconds 10] [--agent build/orbilatch-agent]
"""

import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

# x86-64 system call numbers of where an idle thread may sit.
BLOCKING_CALLS = {"0": "read", "7": "poll", "232": "epoll_wait", "281": "epoll_pwait", "441": "epoll_pwait2"}


def status_fields(path, names):
    fields = {}
    with open(path) as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in names:
                fields[key] = int(value.split()[0])
    return fields


def threads(pid):
    """Per thread: name, the call it is blocked in, and its switch counts."""
    result = {}
    for tid in sorted(os.listdir(f"/proc/{pid}/task"), key=int):
        task = f"/proc/{pid}/task/{tid}"
        with open(f"{task}/comm") as comm:
            name = comm.read().strip()
        with open(f"{task}/syscall") as syscall:
            call = syscall.read().split()[0]
        switches = status_fields(f"{task}/status", {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"})
        result[tid] = (name, BLOCKING_CALLS.get(call, call),
                       switches["voluntary_ctxt_switches"] + switches["nonvoluntary_ctxt_switches"])
    return result


def measure(bed, seconds, what):
    from bluez.fake_bluez import pump_for
    pid = bed.agent.process.pid
    pump_for(0.5)  # let the last replies settle
    before = threads(pid)
    pump_for(seconds)  # bluetoothd stays responsive, and quiet
    after = threads(pid)
    memory = status_fields(f"/proc/{pid}/status", {"VmRSS", "VmHWM"})

    total = 0
    print(f"{what}, idle for {seconds:g} s:")
    for tid, (name, call, switches) in after.items():
        woke = switches - before[tid][2] if tid in before else switches
        total += woke
        print(f"  thread {tid} ({name}), blocked in {call}: {woke} wakeups")
    print(f"  {total} wakeups in all; RSS {memory['VmRSS']} KiB (peak {memory['VmHWM']} KiB)")
    bed.agent.assert_no_output(within=0.1)
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--agent", default=os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent"))
    args = parser.parse_args()
    os.environ["ORBILATCH_AGENT"] = os.path.abspath(args.agent)
    from bluez.testbed import Testbed

    with Testbed() as bed:
        bed.expect_advertising()
        wakeups = measure(bed, args.seconds, "advertising")
        bed.connect_watch()
        wakeups += measure(bed, args.seconds, "serving a subscribed watch")
    if wakeups:
        print("FAILED: the idle agent woke up")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
