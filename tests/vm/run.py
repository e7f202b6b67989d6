#!/usr/bin/python3
"""Runs the system tests of one boot on one stack (debian12: this machine's
root and BlueZ; debian13: a tree built once in --work) and reports each
scenario. Exits 0 when all passed, 1 when one failed, 77 when qemu cannot start."""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "vm"))
import vm  # noqa: E402

BOOTS = {
    "commands": ["commands:typical_exchange", "commands:rate_limit"],
    "links": ["links:unsubscribe_and_reconnect", "links:second_central", "links:power_off_and_on",
              "links:bluetoothd_restart"],
    # The old stack's kernel sometimes trips at a bonded disconnect: a boot of its own.
    "bonded": ["links:bonded_watch_reconnects"],
    "package": ["package:install_present_purge"],
}
# Boots that install software, on a root made writable for the boot only.
WRITABLE_ROOT = {"package"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stack", choices=vm.STACKS, required=True)
    parser.add_argument("--boot", choices=sorted(BOOTS), required=True)
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--deb", help="the Debian package the boot installs")
    parser.add_argument("--verbose", action="store_true", help="show the guest's progress lines")
    parser.add_argument("--only", action="append", default=[], metavar="SCENARIO", help="run only these")
    args = parser.parse_args()
    reason = vm.qemu_startable()
    if reason:
        print(f"SKIP system tests: {reason}")
        return 77
    scenarios = [s for s in BOOTS[args.boot] if not args.only or s.split(":")[1] in args.only]
    plan = {"scenarios": scenarios, "paths": ["tests/vm/scenarios", "tests"], "controllers": 4,
            "scenario_timeout": 240, "writable_root": args.boot in WRITABLE_ROOT}
    # The presenter runs the agent installed next to it.
    programs = [args.agent] + [p for p in [Path(args.agent).with_name("orbilatch-present")] if p.exists()]
    programs += [args.deb] if args.deb else []

    sys.stdout.reconfigure(line_buffering=True)
    # The guest bounds each scenario itself; this only ends a guest that hangs.
    boot_timeout = 300 + plan["scenario_timeout"] * len(scenarios)
    results, seconds = vm.boot_retrying_flakes(args.stack, args.work, f"{args.stack}-{args.boot}", plan, programs,
                                               boot_timeout, args.verbose)
    return 1 if results is None or vm.report(f"{args.stack}/{args.boot}", scenarios, results, seconds) else 0


if __name__ == "__main__":
    sys.exit(main())
