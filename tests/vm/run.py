#!/usr/bin/python3
"""Runs the system tests of one boot on one stack and reports each scenario.

    run.py --stack debian12 --boot commands --agent build/orbilatch-agent --work build/vm
    run.py --stack debian13 --boot package --agent build/orbilatch-agent --work build/vm \
           --deb build/tests/package/orbilatch_0.1.0_amd64.deb

Stacks: debian12 boots this machine's own root (its BlueZ), debian13 a
Debian 13 tree built once with debootstrap and cached in the work folder.
Each boot brings the stack up once and runs its scenarios in turn.

Exit status: 0 when every scenario passed, 1 when one failed, 77 (CTest's
skip) only when qemu cannot start at all here.
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "vm"))
import vm  # noqa: E402

SKIP = 77

BOOTS = {
    "commands": [
        "commands:typical_exchange",
        "commands:every_command_letter",
        "commands:malformed_frames",
        "commands:rate_limit",
        "commands:acknowledgement_waits_for_subscriber",
        "shutdown:last_acknowledgement_before_shutdown",
        "shutdown:watch_leaving_while_stopping",
    ],
    "links": [
        "links:unsubscribe_and_reconnect",
        "links:second_central",
        "links:bluetoothd_restart",
        "links:strangers_and_power",
        "links:advertising_refused",
    ],
    # Pairing: the old stack's kernel sometimes trips at a bonded disconnect,
    # so a bonded watch gets a boot of its own.
    "bonded": ["links:bonded_watch_reconnects"],
    "presenter": ["presenter:every_command_presses_its_key"],
    "package": ["package:install_tap_purge"],
}
# Boots that install software, on a root made writable for the boot only.
WRITABLE_ROOT = {"package"}

STACK_NOT_UP_RETRIES = 2


def log(text):
    print(text, flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stack", choices=vm.STACKS, required=True)
    parser.add_argument("--boot", choices=sorted(BOOTS), required=True)
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--deb", help="the Debian package the boot installs")
    parser.add_argument("--boot-timeout", type=float, default=480)
    parser.add_argument("--scenario-timeout", type=float, default=240)
    parser.add_argument("--verbose", action="store_true", help="show the guest's progress lines")
    parser.add_argument("--only", action="append", default=[], metavar="SCENARIO",
                        help="run only these scenarios of the boot (for working on one)")
    args = parser.parse_args()

    reason = vm.qemu_startable()
    if reason:
        print(f"SKIP system tests: {reason}")
        return SKIP
    Path(args.work).mkdir(parents=True, exist_ok=True)
    scenarios = [s for s in BOOTS[args.boot] if not args.only or s.split(":")[1] in args.only]
    plan = {"scenarios": scenarios, "paths": ["tests/vm/scenarios", "tests"], "controllers": 4,
            "scenario_timeout": args.scenario_timeout, "writable_root": args.boot in WRITABLE_ROOT}
    # The presenter, where the build put it, runs the agent installed next to it.
    programs = [args.agent] + [p for p in [Path(args.agent).with_name("orbilatch-present")] if p.exists()]
    programs += [args.deb] if args.deb else []

    bug_retried = False
    for attempt in range(1, STACK_NOT_UP_RETRIES + 3):
        log(f"boot {attempt}: {args.stack}/{args.boot}")
        results, seconds, machine = vm.boot_plan(
            args.stack, args.work, f"{args.stack}-{args.boot}", plan, programs, args.boot_timeout,
            on_line=(lambda line: log(f"  guest {line}")) if args.verbose else None, log=log)
        if results is None:
            log(f"boot {attempt} produced no results after {seconds:.0f} s; console tail:\n"
                f"{machine.console_tail()}")
            return 1
        if results["stack"] == "not-up" and attempt <= STACK_NOT_UP_RETRIES:
            # The emulator's known start-up flake; nothing was asserted yet.
            log(f"boot {attempt}: the emulated controllers did not come up; booting again")
            continue
        failed = [s for s in results["scenarios"] if s["status"] != "pass"]
        if failed and results.get("kernel_bug") and not bug_retried:
            bug_retried = True
            log(f"boot {attempt}: the guest kernel hit a bug ({results['kernel_bug']}); booting again")
            continue
        break
    return report(args, scenarios, results, seconds)


def report(args, scenarios, results, seconds):
    log(f"{args.stack}/{args.boot}: bluetoothd {results['bluez']}, boot took {seconds:.0f} s, "
        f"stack ready at {results.get('stack_ready_at') or 0:.0f} s guest uptime")
    if results["stack"] != "up":
        log(f"the stack did not come up ({results['stack']}): {results.get('detail')}")
        return 1
    ran = {s["name"]: s for s in results["scenarios"]}
    passed = failed = 0
    for name in scenarios:
        short = name.split(":")[1]
        scenario = ran.get(short)
        if scenario is None:
            log(f"FAIL {short}: did not run")
            failed += 1
            continue
        if scenario["status"] == "pass":
            passed += 1
            log(f"PASS {short} ({scenario['seconds']} s)")
        else:
            failed += 1
            log(f"FAIL {short} ({scenario['status']}, {scenario['seconds']} s)\n{scenario['detail']}")
        for note in scenario["notes"]:
            log(f"  note: {note}")
    if results.get("kernel_bug"):
        log(f"guest kernel: {results['kernel_bug']}")
    log(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
