#!/usr/bin/python3
"""Measurements of the agent on the real Linux Bluetooth stack in the VM:
one boot runs the chosen benchmarks of bench/guest and prints their figures.

    bench/vm.py --agent build/orbilatch-agent --work build/vm [--stack debian13]
                [--only idle_cost] [--seconds 10] [--minutes 2] [--taps 120]

idle_cost: wakeups of each of the agent's threads, and its memory, while it
advertises and while it serves a subscribed watch; then the same of
orbilatch-present (taken from the agent's folder) and the agent it runs, with
its desktop notifications on (fails if any wakes at all).
soak: commands, bursts beyond the rate limit and dropped links for a while
(fails on anything lost, misordered or growing).
tap_to_key: taps paced under the rate limit, from the watch's write to the
key press of orbilatch-present (taken from the agent's folder), against the
same taps to command_received at a bare controller: median, p99 and ratio.
"""

import argparse
import json
import math
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "vm"))
import vm  # noqa: E402

BENCHMARKS = {
    "idle_cost": ["idle:idle_cost", "idle:idle_presenter"],
    "soak": ["soak:soak"],
    "tap_to_key": ["tap_to_key:bare_controller", "tap_to_key:presenter"],
}


def p99(samples):
    ordered = sorted(samples)
    return ordered[max(0, math.ceil(0.99 * len(ordered)) - 1)]


def tap_to_key_figures(results_dir):
    bare, keyed = (json.loads((results_dir / f"tap_to_key-{name}.json").read_text())
                   for name in ("bare_controller", "presenter"))
    print(f"  {len(bare)} + {len(keyed)} taps{'':14}{'median':>10}{'p99':>10}")
    for label, values in (("tap to command_received, bare controller", bare), ("tap to key, presenter", keyed)):
        print(f"  {label:40}{statistics.median(values) * 1000:8.1f} ms{p99(values) * 1000:7.1f} ms")
    print(f"  {'ratio (what the presenter adds)':40}{statistics.median(keyed) / statistics.median(bare):9.2f}x"
          f"{p99(keyed) / p99(bare):9.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--stack", choices=vm.STACKS, default="debian12")
    parser.add_argument("--only", action="append", default=[], choices=sorted(BENCHMARKS))
    parser.add_argument("--seconds", type=float, default=10, help="idle_cost: seconds per measurement")
    parser.add_argument("--minutes", type=float, default=2, help="soak: how long")
    parser.add_argument("--taps", type=int, default=120, help="tap_to_key: taps at each of the two")
    args = parser.parse_args()

    reason = vm.qemu_startable()
    if reason:
        print(f"SKIP: {reason}")
        return 77
    Path(args.work).mkdir(parents=True, exist_ok=True)
    chosen = args.only or list(BENCHMARKS)
    scenarios = [scenario for name in chosen for scenario in BENCHMARKS[name]]
    plan = {"scenarios": scenarios, "paths": ["bench/guest", "tests/vm/scenarios", "tests"], "controllers": 2,
            "scenario_timeout": args.minutes * 60 + args.taps + 300,
            "options": {"seconds": args.seconds, "minutes": args.minutes, "taps": args.taps}}
    programs = [args.agent, Path(args.agent).with_name("orbilatch-present")]
    results, seconds = vm.boot_retrying_flakes(args.stack, args.work, f"bench-{args.stack}", plan, programs,
                                               args.minutes * 60 + 2 * args.taps + 900)
    failed = 1 if results is None else vm.report(args.stack, scenarios, results, seconds)
    if not failed and "tap_to_key" in chosen:
        tap_to_key_figures(Path(args.work) / f"bench-{args.stack}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
