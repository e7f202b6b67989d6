#!/usr/bin/python3
"""Runs the system tests of one boot on one stack and reports each scenario.

    run.py --stack debian12 --boot commands --agent build/orbilatch-agent --work build/system

Stacks: debian12 boots the host's own root (its BlueZ), debian13 a Debian 13
tree built once with debootstrap and cached in the work folder. Each boot
brings the stack up once and runs its scenarios in turn.

Exit status: 0 when every scenario passed, 1 when one failed, 77 (CTest's
skip) only when qemu cannot start at all here.
"""

import argparse
import json
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import vm  # noqa: E402

SKIP = 77

BOOTS = {
    "commands": {
        "scenarios": [
            "commands:typical_exchange",
            "commands:every_command_letter",
            "commands:malformed_frames",
            "commands:rate_limit",
            "commands:acknowledgement_waits_for_subscriber",
        ],
    },
    "links": {
        "scenarios": [
            "links:unsubscribe_and_reconnect",
            "links:second_central",
            "links:bluetoothd_restart",
        ],
    },
    # Pairing: the old stack's kernel sometimes trips at a bonded disconnect,
    # so a bonded watch gets a boot of its own.
    "bonded": {
        "scenarios": ["links:bonded_watch_reconnects"],
    },
    "presenter": {
        "scenarios": ["presenter:every_command_presses_its_key"],
    },
}

STACKS = ("debian12", "debian13")
STACK_NOT_UP_RETRIES = 2


def log(text):
    print(text, flush=True)


def qemu_startable():
    """None when qemu can run here, else why not."""
    try:
        vm.check_qemu()
        out = subprocess.run([vm.QEMU, "--version"], capture_output=True, text=True, timeout=30)
    except vm.VmUnavailable as reason:
        return str(reason)
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"{vm.QEMU} cannot run: {error}"
    if out.returncode != 0:
        return f"{vm.QEMU} cannot run: {out.stderr.strip() or out.returncode}"
    return None


def boot_once(args, boot, root, attempt):
    results_dir = Path(args.work) / f"{args.stack}-{args.boot}"
    shutil.rmtree(results_dir, ignore_errors=True)
    results_dir.mkdir(parents=True)
    shutil.copy2(args.agent, results_dir / "orbilatch-agent")
    # The presenter, where the build put it, runs the agent installed next to it.
    presenter = Path(args.agent).with_name("orbilatch-present")
    if presenter.exists():
        shutil.copy2(presenter, results_dir / "orbilatch-present")
    plan = {"scenarios": boot["scenarios"], "controllers": 4,
            "scenario_timeout": args.scenario_timeout}
    (results_dir / "plan.json").write_text(json.dumps(plan))
    machine = vm.Vm(args.work, root, results_dir, results_dir / "console.log",
                    modules_share=args.stack == "debian13")
    started = time.monotonic()
    log(f"boot {attempt}: {args.stack}/{args.boot}, results in {results_dir}")
    try:
        machine.run(args.boot_timeout, on_line=lambda line: log(f"  guest {line}") if args.verbose
                    else None)
    except vm.BootTimeout as error:
        log(f"boot {attempt}: {error}")
    seconds = time.monotonic() - started
    try:
        results = json.loads((results_dir / "results.json").read_text())
    except (FileNotFoundError, json.JSONDecodeError):
        results = None
    return results, seconds, machine


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stack", choices=STACKS, required=True)
    parser.add_argument("--boot", choices=sorted(BOOTS), required=True)
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--boot-timeout", type=float, default=480)
    parser.add_argument("--scenario-timeout", type=float, default=240)
    parser.add_argument("--verbose", action="store_true", help="show the guest's progress lines")
    parser.add_argument("--only", action="append", default=[], metavar="SCENARIO",
                        help="run only these scenarios of the boot (for working on one)")
    args = parser.parse_args()

    reason = qemu_startable()
    if reason:
        print(f"SKIP system tests: {reason}")
        return SKIP
    Path(args.work).mkdir(parents=True, exist_ok=True)
    root = "/" if args.stack == "debian12" else vm.build_trixie_tree(args.work, log)
    boot = dict(BOOTS[args.boot])
    if args.only:
        boot["scenarios"] = [s for s in boot["scenarios"] if s.split(":")[1] in args.only]

    attempt = 0
    bug_retried = False
    while True:
        attempt += 1
        results, seconds, machine = boot_once(args, boot, root, attempt)
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
    return report(args, boot, results, seconds)


def report(args, boot, results, seconds):
    log(f"{args.stack}/{args.boot}: bluetoothd {results['bluez']}, boot took {seconds:.0f} s, "
        f"stack ready at {results.get('stack_ready_at') or 0:.0f} s guest uptime")
    if results["stack"] != "up":
        log(f"the stack did not come up ({results['stack']}): {results.get('detail')}")
        return 1
    ran = {s["name"]: s for s in results["scenarios"]}
    passed = failed = 0
    for name in boot["scenarios"]:
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
