#!/usr/bin/python3
"""Boots the system-test VM and shows a new user's one command,
orbilatch-present, changing slides as the virtual watch taps, live.

    demo.py --agent build/orbilatch-agent --work build/system [--stack debian13]
"""

import argparse
import json
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import vm  # noqa: E402
from run import qemu_startable  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--stack", choices=("debian12", "debian13"), default="debian12",
                        help="debian12: this machine's BlueZ; debian13: a newer BlueZ")
    args = parser.parse_args()

    def say(text):
        print(f"{'demo':<19}| {text}", flush=True)

    reason = qemu_startable()
    if reason:
        say(f"cannot run the demo: {reason}")
        return 1
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    root = "/" if args.stack == "debian12" else vm.build_trixie_tree(work, say)
    results = work / f"demo-{args.stack}"
    shutil.rmtree(results, ignore_errors=True)
    results.mkdir(parents=True)
    shutil.copy2(args.agent, results / "orbilatch-agent")
    shutil.copy2(Path(args.agent).with_name("orbilatch-present"), results / "orbilatch-present")
    (results / "plan.json").write_text(json.dumps(
        {"scenarios": ["presentation:presentation"], "controllers": 2, "scenario_timeout": 300}))

    say("booting Debian's kernel in qemu (software emulation: about a minute until Bluetooth is up)")
    say("inside: bluetoothd with two emulated Bluetooth LE controllers, hci0 and hci1")
    say("orbilatch-present runs the agent on hci0 and presses keys on a virtual keyboard;")
    say("a slide show reads that keyboard; the virtual watch taps on hci1")
    started = time.monotonic()
    machine = vm.Vm(work, root, results, results / "console.log",
                    modules_share=args.stack == "debian13")

    def line(text):
        if "|" in text[:21]:
            print(text, flush=True)
        elif not text.startswith("scenario presentation"):
            say(text)

    try:
        machine.run(600, on_line=line)
    except vm.BootTimeout as error:
        say(str(error))
        return 1
    outcome = json.loads((results / "results.json").read_text()) if (results / "results.json").exists() else {}
    scenarios = outcome.get("scenarios") or [{}]
    if scenarios[0].get("status") != "pass":
        say(f"the demo did not finish as it should: {scenarios[0].get('detail') or outcome.get('detail')}")
        say(f"logs in {results}")
        return 1
    say(f"done in {time.monotonic() - started:.0f} s; logs in {results}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
