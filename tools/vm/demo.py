#!/usr/bin/python3
"""Boots the VM and shows a new user's one command, orbilatch-present,
changing slides as the virtual watch taps, live.

    demo.py --agent build/orbilatch-agent --work build/vm [--stack debian13]
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import vm  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--stack", choices=vm.STACKS, default="debian12",
                        help="debian12: this machine's BlueZ; debian13: a newer BlueZ")
    args = parser.parse_args()

    def say(text):
        print(f"{'demo':<19}| {text}", flush=True)

    reason = vm.qemu_startable()
    if reason:
        say(f"cannot run the demo: {reason}")
        return 1
    Path(args.work).mkdir(parents=True, exist_ok=True)
    say("booting Debian's kernel in qemu (software emulation: about a minute until Bluetooth is up)")
    say("inside: bluetoothd with two emulated Bluetooth LE controllers, hci0 and hci1")
    say("orbilatch-present runs the agent on hci0 and presses keys on a virtual keyboard;")
    say("a slide show reads that keyboard; the virtual watch taps on hci1")

    def line(text):
        if "|" in text[:21]:
            print(text, flush=True)
        elif not text.startswith("scenario presentation"):
            say(text)

    plan = {"scenarios": ["presentation:presentation"], "controllers": 2, "scenario_timeout": 300}
    programs = [args.agent, Path(args.agent).with_name("orbilatch-present")]
    outcome, seconds, machine = vm.boot_plan(args.stack, args.work, f"demo-{args.stack}", plan, programs, 600,
                                             on_line=line, log=say)
    scenarios = (outcome or {}).get("scenarios") or [{}]
    if scenarios[0].get("status") != "pass":
        say(f"the demo did not finish as it should: {scenarios[0].get('detail') or (outcome or {}).get('detail')}")
        say(f"logs in {machine.results_dir}")
        return 1
    say(f"done in {seconds:.0f} s; logs in {machine.results_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
