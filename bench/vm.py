#!/usr/bin/python3
"""Measurements of the agent on the real Linux Bluetooth stack in the VM:
one boot runs the chosen benchmarks of bench/guest and prints their figures.

    bench/vm.py --agent build/orbilatch-agent --work build/vm [--stack debian13]
                [--only idle_cost] [--seconds 10] [--minutes 2]

idle_cost: wakeups of each of the agent's threads, and its memory, while it
advertises and while it serves a subscribed watch (fails if it wakes at all).
soak: commands, bursts beyond the rate limit and dropped links for a while
(fails on anything lost, misordered or growing).
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "vm"))
import vm  # noqa: E402

BENCHMARKS = ["idle:idle_cost", "soak:soak"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--stack", choices=vm.STACKS, default="debian12")
    parser.add_argument("--only", action="append", default=[], metavar="BENCHMARK")
    parser.add_argument("--seconds", type=float, default=10, help="idle_cost: seconds per measurement")
    parser.add_argument("--minutes", type=float, default=2, help="soak: how long")
    args = parser.parse_args()

    reason = vm.qemu_startable()
    if reason:
        print(f"SKIP: {reason}")
        return 77
    Path(args.work).mkdir(parents=True, exist_ok=True)
    scenarios = [b for b in BENCHMARKS if not args.only or b.split(":")[1] in args.only]
    plan = {"scenarios": scenarios, "paths": ["bench/guest", "tests"], "controllers": 2,
            "scenario_timeout": args.minutes * 60 + 300,
            "options": {"seconds": args.seconds, "minutes": args.minutes}}
    results, seconds, machine = vm.boot_plan(args.stack, args.work, f"bench-{args.stack}", plan, [args.agent],
                                             args.minutes * 60 + 900)
    if not results or results["stack"] != "up":
        print(f"the VM gave no results; console tail:\n{machine.console_tail()}")
        return 1
    print(f"{args.stack}: bluetoothd {results['bluez']}, {seconds:.0f} s")
    failed = 0
    for scenario in results["scenarios"]:
        print(f"{scenario['name']}: {scenario['status']} ({scenario['seconds']} s)")
        for note in scenario["notes"]:
            print(f"  {note}")
        if scenario["status"] != "pass":
            failed += 1
            print(scenario["detail"])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
