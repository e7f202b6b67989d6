"""The guest's test runner, started by stage2.sh: brings the stack up and runs
the scenarios that plan.json in the results folder names, one after the
other in this boot, writing results.json after each.

plan.json:    {"scenarios": ["module:function", ...], "controllers": 4,
               "scenario_timeout": 240}
results.json: {"bluez": "5.66", "stack": "up" | "not-up" | "failed", "stack_ready_at": s,
               "scenarios": [{"name", "status": "pass" | "fail" | "error", "seconds",
                              "detail", "notes"}], "kernel_bug": text or null}
"""

import asyncio
import json
import subprocess
import sys
import time
import traceback
from pathlib import Path

SOURCE = Path("/run/orbilatch/src")
sys.path[:0] = [str(SOURCE / "tests/vm/guest"), str(SOURCE / "tests/vm/scenarios"),
                str(SOURCE / "tests"), str(SOURCE / "tools"), str(SOURCE / "bench")]

import importlib  # noqa: E402

from rig import Rig  # noqa: E402
from stack import Stack, StackNotUp, bluez_version  # noqa: E402

MARK = "orbilatch| "


def uptime():
    return float(Path("/proc/uptime").read_text().split()[0])


def mark(text):
    print(f"{MARK}{text}", flush=True)


def kernel_bug():
    """A kernel BUG or oops since boot, as its first line, or None."""
    out = subprocess.run(["dmesg"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "BUG:" in line or "list_del corruption" in line or "Oops" in line:
            return line.strip()
    return None


def main(results_dir):
    results_dir = Path(results_dir)
    plan = json.loads((results_dir / "plan.json").read_text())
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
    timeout = plan.get("scenario_timeout", 240)
    for name in plan["scenarios"]:
        module_name, function_name = name.split(":")
        short = function_name
        rig = Rig(stack, results_dir, short, agent, results["bluez"], mark)
        started = time.monotonic()
        entry = {"name": short, "status": None, "seconds": None, "detail": None, "notes": rig.notes}
        results["scenarios"].append(entry)
        mark(f"scenario {short} started")
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
        results["kernel_bug"] = kernel_bug()
        mark(f"scenario {short}: {entry['status']} in {entry['seconds']} s")
        save()
        if stack.bluetoothd is None or stack.bluetoothd.poll() is not None:
            mark("bluetoothd is gone; starting it again for the next scenario")
            try:
                stack.start_bluetoothd()
            except Exception as error:
                mark(f"bluetoothd did not come back: {error!r}")
                break
    stack.stop()
    mark(f"done at {uptime():.1f} s")


async def _run_scenario(function, rig, timeout):
    try:
        await asyncio.wait_for(function(rig), timeout)
    except asyncio.TimeoutError:
        raise AssertionError(f"scenario did not finish within {timeout} s") from None
    finally:
        await rig.cleanup()


if __name__ == "__main__":
    main(sys.argv[1])
