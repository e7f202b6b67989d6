"""The guest's test runner, started by stage2.sh: brings the stack up and runs
the scenarios that plan.json in the results folder names, one after the
other in this boot, writing results.json after each.

plan.json:    {"scenarios": ["module:function", ...], "paths": ["tests/vm/scenarios", ...],
               "controllers": 4, "scenario_timeout": 240, "options": {...}}
results.json: {"bluez": "5.66", "stack": "up" | "not-up" | "failed", "stack_ready_at": s,
               "scenarios": [{"name", "status": "pass" | "fail" | "error", "seconds",
                              "detail", "notes", "kernel_bug": text or null}],
               "kernel_bug": text or null}
A scenario's kernel_bug is a kernel report logged while it ran; the boot's,
one logged at any time.
"""

import asyncio
import json
import math
import re
import signal
import subprocess
import sys
import time
import traceback
from pathlib import Path

SOURCE = Path("/run/orbilatch/src")
sys.path[:0] = [str(SOURCE / "tools/vm/guest"), str(SOURCE / "tools")]

import importlib  # noqa: E402

from rig import Rig  # noqa: E402
from stack import Stack, StackNotUp, bluez_version  # noqa: E402

MARK = "orbilatch| "


def uptime():
    return float(Path("/proc/uptime").read_text().split()[0])


def mark(text):
    print(f"{MARK}{text}", flush=True)


# "[   41.123456] BUG: ..."
KERNEL_LINE = re.compile(r"\[\s*(\d+\.\d+)\]\s*(.*)")


def kernel_bug(since=0.0, until=math.inf):
    """The first line of a kernel BUG or oops logged between two moments of
    uptime, or None."""
    out = subprocess.run(["dmesg"], capture_output=True, text=True).stdout
    for logged in filter(None, map(KERNEL_LINE.fullmatch, out.splitlines())):
        text = logged[2]
        if since <= float(logged[1]) <= until and ("BUG:" in text or "list_del corruption" in text or "Oops" in text):
            return f"{text.strip()} (at {logged[1]} s)"
    return None


def exit_description(status):
    return f"was killed by {signal.Signals(-status).name}" if status < 0 else f"exited with status {status}"


def main(results_dir):
    results_dir = Path(results_dir)
    plan = json.loads((results_dir / "plan.json").read_text())
    sys.path[:0] = [str(SOURCE / path) for path in plan.get("paths", [])]
    results = {"bluez": None, "stack": None, "stack_ready_at": None, "scenarios": [],
               "kernel_bug": None, "booted_at": uptime()}
    results_file = results_dir / "results.json"

    def save():
        partial = results_dir / "results.json.partial"
        partial.write_text(json.dumps(results, indent=1))
        partial.rename(results_file)

    results["bluez"] = bluez_version()
    mark(f"guest up at {uptime():.1f} s; bluetoothd {results['bluez']}")
    stack = Stack(results_dir, controllers=plan.get("controllers", 4), log=mark)
    try:
        stack.start()
    except StackNotUp as error:
        results["stack"] = "not-up"
        results["detail"] = str(error)
        save()
        mark(f"stack not up: {error}")
        return
    except Exception as error:
        results["stack"] = "failed"
        results["detail"] = traceback.format_exc()
        save()
        mark(f"stack failed: {error!r}")
        return
    results["stack"] = "up"
    results["stack_ready_at"] = uptime()
    save()
    mark(f"stack ready at {results['stack_ready_at']:.1f} s")

    agent = results_dir / "orbilatch-agent"
    for name in plan["scenarios"]:
        rig = Rig(stack, results_dir, name.split(":")[1], agent, results["bluez"], mark, plan.get("options", {}))
        entry = run_scenario(name, rig, plan.get("scenario_timeout", 240))
        results["scenarios"].append(entry)
        results["kernel_bug"] = kernel_bug()
        save()
        if stack.bluetoothd is None or stack.bluetoothd_exit() is not None:
            mark("bluetoothd is gone; starting it again for the next scenario")
            try:
                stack.start_bluetoothd()
            except Exception as error:
                mark(f"bluetoothd did not come back: {error!r}")
                break
    stack.stop()
    mark(f"done at {uptime():.1f} s")


def run_scenario(name, rig, timeout):
    """Runs the scenario module:function; returns its entry in results.json."""
    module_name, function_name = name.split(":")
    started, started_at = time.monotonic(), uptime()
    entry = {"name": function_name, "status": None, "seconds": None, "detail": None, "notes": rig.notes}
    mark(f"scenario {function_name} started")
    try:
        function = getattr(importlib.import_module(module_name), function_name)
        asyncio.run(_run_scenario(function, rig, timeout))
        entry["status"] = "pass"
    except AssertionError as error:
        entry["status"] = "fail"
        entry["detail"] = f"{error}\n{traceback.format_exc()}"
    except Exception as error:
        entry["status"] = "error"
        entry["detail"] = f"{error!r}\n{traceback.format_exc()}"
    entry["seconds"] = round(time.monotonic() - started, 1)
    entry["kernel_bug"] = kernel_bug(started_at, uptime())
    crash = rig.stack.bluetoothd_exit()
    if crash is not None:
        # Only the scenario's own kill_bluetoothd may end it.
        entry["detail"] = f"bluetoothd {exit_description(crash)} during the scenario\n{entry['detail'] or ''}"
        entry["status"] = "fail" if entry["status"] == "pass" else entry["status"]
    mark(f"scenario {function_name}: {entry['status']} in {entry['seconds']} s")
    return entry


async def _run_scenario(function, rig, timeout):
    try:
        await asyncio.wait_for(function(rig), timeout)
    except asyncio.TimeoutError:
        raise AssertionError(f"scenario did not finish within {timeout} s") from None
    finally:
        unexpected = await rig.cleanup()
    if unexpected:
        raise AssertionError(f"diagnostics the scenario did not expect: {unexpected}")


if __name__ == "__main__":
    main(sys.argv[1])
