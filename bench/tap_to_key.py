#!/usr/bin/python3
"""Tap to key: how long a tap of the watch takes to become a key press, and
what the presenter adds to the agent's own delivery.

Boots the system-test VM (software emulation, real bluetoothd, the virtual
watch on a second emulated controller) and, in one boot, taps NEXT_SLIDE
--taps times at a bare controller, measuring from the watch's write to the
agent's command_received line, then as many times at orbilatch-present,
measuring from the write to the key press on its uinput keyboard (the
kernel's time stamp of the event). Taps are paced at one per 150 ms at the
most, under the agent's ten writes a second, and each waits for its
acknowledgement. Prints median and p99 of both and their ratio.

The bare controller's time is taken when a Python thread reads the line from
the pipe, the key's by the kernel: the ratio leans, if anything, against the
presenter.

    bench/tap_to_key.py [--taps 120] [--stack debian12] [--agent build/orbilatch-agent] [--work build/vm]
"""

import argparse
import json
import math
import shutil
import statistics
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "vm"))
import vm  # noqa: E402
from run import qemu_startable  # noqa: E402

SKIPPED = 77


def p99(samples):
    ordered = sorted(samples)
    return ordered[max(0, math.ceil(0.99 * len(ordered)) - 1)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--taps", type=int, default=120, help="taps at each of the two (default 120)")
    parser.add_argument("--stack", choices=("debian12", "debian13"), default="debian12")
    parser.add_argument("--agent", default="build/orbilatch-agent", help="the presenter is taken from its folder")
    parser.add_argument("--work", default="build/vm")
    parser.add_argument("--verbose", action="store_true", help="show the guest's progress lines")
    args = parser.parse_args()

    reason = qemu_startable()
    if reason:
        print(f"skipped: {reason}")
        return SKIPPED
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    root = "/" if args.stack == "debian12" else vm.build_trixie_tree(work, print)
    results = work / f"bench-tap-to-key-{args.stack}"
    shutil.rmtree(results, ignore_errors=True)
    results.mkdir(parents=True)
    for program in ("orbilatch-agent", "orbilatch-present"):
        shutil.copy2(Path(args.agent).with_name(program), results / program)
    scenarios = ["bare_controller", "presenter"]
    (results / "plan.json").write_text(json.dumps({"scenarios": [f"tap_to_key_guest:{s}" for s in scenarios],
                                                   "controllers": 2, "scenario_timeout": 60 + args.taps,
                                                   "taps": args.taps}))

    print(f"{args.taps} taps at a bare controller, then {args.taps} at the presenter, in one boot", flush=True)
    machine = vm.Vm(work, root, results, results / "console.log", modules_share=args.stack == "debian13")
    machine.run(600 + 2 * args.taps, on_line=lambda line: print(f"  guest {line}", flush=True) if args.verbose
                else None)
    outcome = json.loads((results / "results.json").read_text())
    ran = outcome.get("scenarios") or []
    if len(ran) != len(scenarios) or any(s["status"] != "pass" for s in ran):
        failed = next((s for s in ran if s["status"] != "pass"), {})
        print(f"FAILED: {failed.get('detail') or outcome.get('detail')}\nlogs in {results}")
        return 1

    bare, keyed = (json.loads((results / f"tap_to_key-{s}.json").read_text()) for s in scenarios)
    print(f"bluetoothd {outcome['bluez']}, {len(bare)} + {len(keyed)} taps")
    print(f"  {'':38}{'median':>10}{'p99':>10}")
    for label, values in (("tap to command_received, bare controller", bare), ("tap to key, presenter", keyed)):
        print(f"  {label:38}{statistics.median(values) * 1000:8.1f} ms{p99(values) * 1000:7.1f} ms")
    print(f"  {'ratio (what the presenter adds)':38}{statistics.median(keyed) / statistics.median(bare):9.2f}x"
          f"{p99(keyed) / p99(bare):9.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
