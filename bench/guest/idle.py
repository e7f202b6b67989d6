"""What the agent and the presenter cost while nothing happens: each
advertises, then serves a subscribed watch, and is left alone. Counts the
context switches of each of their threads over the interval (from
/proc/<pid>/task/*/status) and reports their resident memory. Neither has a
timer or anything to poll, so every count must be zero.

The presenter runs as the desktop runs it, without a terminal, so with its
desktop notifications on: where the root has Xvfb and dunst, a notification
server takes them on a session bus of its own."""

import asyncio
import contextlib
import os
import shutil
import subprocess
import time

from agent_events import CONNECTED, WATCH_CONNECTED
from presenter_rig import connect_watch_to_new_presenter, load_uinput

# x86-64 system call numbers of where an idle thread may sit.
BLOCKING_CALLS = {"0": "read", "7": "poll", "232": "epoll_wait", "281": "epoll_pwait", "441": "epoll_pwait2"}


def fields(path, names):
    with open(path) as status:
        return {key: int(value.split()[0]) for key, _, value in (line.partition(":") for line in status)
                if key in names}


def threads(pid):
    """Per thread: its name, the call it is blocked in, and its switches."""
    result = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        task = f"/proc/{pid}/task/{tid}"
        with open(f"{task}/comm") as comm, open(f"{task}/syscall") as syscall:
            name, call = comm.read().strip(), syscall.read().split()[0]
        switches = fields(f"{task}/status", {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"})
        result[tid] = (name, BLOCKING_CALLS.get(call, call), sum(switches.values()))
    return result


def child_of(pid):
    for entry in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError), open(f"/proc/{entry}/stat") as stat:
            if int(stat.read().rsplit(")", 1)[1].split()[1]) == pid:
                return int(entry)
    raise AssertionError(f"process {pid} has no child")


async def measure(rig, processes, what):
    """processes: {"agent": pid, ...}, measured over the same interval."""
    await asyncio.sleep(1.0)  # the last replies settle
    before = {pid: threads(pid) for pid in processes.values()}
    await asyncio.sleep(rig.options.get("seconds", 10))
    total = 0
    for name, pid in processes.items():
        after = threads(pid)
        memory = fields(f"/proc/{pid}/status", {"VmRSS", "VmHWM"})
        woke = {tid: switches - before[pid].get(tid, (None, None, 0))[2] for tid, (_, _, switches) in after.items()}
        rig.note(f"{what}, {name}: " + ", ".join(f"thread {after[tid][0]} in {after[tid][1]} woke {count} times"
                                                 for tid, count in woke.items())
                 + f"; RSS {memory['VmRSS']} KiB (peak {memory['VmHWM']} KiB)")
        total += sum(woke.values())
    return total


async def idle_cost(rig):
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)
    pid = {"agent": agent.process.process.pid}
    wakeups = await measure(rig, pid, "advertising")
    await agent.expect_quiet(0.1)
    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED)
    wakeups += await measure(rig, pid, "serving a subscribed watch")
    await agent.expect_quiet(0.1)
    assert wakeups == 0, "the idle agent woke up"


@contextlib.contextmanager
def notification_server(rig):
    """A session bus address with dunst on it, on an Xvfb of its own; None where the root has neither."""
    if not (shutil.which("Xvfb") and shutil.which("dunst")):
        rig.note("no Xvfb or dunst on this root: the presenter's notifications find no session bus")
        yield None
        return
    with contextlib.ExitStack() as started:
        def start(*command, **options):
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)
            started.callback(process.wait)
            started.callback(process.terminate)
            return process
        start("Xvfb", ":9", "-nolisten", "tcp", stdout=subprocess.DEVNULL)
        bus = start("dbus-daemon", "--session", "--nofork", "--print-address=1", stdout=subprocess.PIPE,
                    env=dict(os.environ, DISPLAY=":9"))
        address = bus.stdout.readline().decode().strip()
        start("dunst", env=dict(os.environ, DISPLAY=":9", DBUS_SESSION_BUS_ADDRESS=address),
              stdout=subprocess.DEVNULL)
        yield address


def closed_notifications(address):
    """How many notifications dunst has closed (its history), with its own tool."""
    count = subprocess.run(["dunstctl", "count", "history"], capture_output=True, text=True,
                           env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address))
    return int(count.stdout or 0)


async def idle_presenter(rig):
    load_uinput()
    watch = rig.watch("hci1")
    with notification_server(rig) as address:
        env = dict(os.environ, **({"DBUS_SESSION_BUS_ADDRESS": address} if address else {}))
        presenter = await connect_watch_to_new_presenter(rig, watch, "--keyboard", "uinput", env=env)
        await presenter.expect_diagnostic("orbilatch-present: keys go out through .*uinput.*")
        await presenter.expect_diagnostic("orbilatch-present: LibreOffice Impress through its remote control, .*")
        pids = {"presenter": presenter.process.pid}
        pids["its agent"] = child_of(pids["presenter"])
        wakeups = await measure(rig, pids, "advertising")
        await watch.subscribe()
        await presenter.expect(WATCH_CONNECTED, CONNECTED)
        if not address:
            await presenter.expect_diagnostic("orbilatch-present: no desktop notifications: cannot connect to .*")
        else:
            # The server tells the presenter when it takes "Watch connected"
            # off the screen (dunst: after 10 s); the idle time begins after.
            deadline = time.monotonic() + 30
            while closed_notifications(address) < 1:
                assert time.monotonic() < deadline, "dunst did not close the presenter's notification"
                await asyncio.sleep(0.5)
        wakeups += await measure(rig, pids, "serving a subscribed watch")
        presenter.interrupt()
        assert await presenter.wait() == 0
    assert wakeups == 0, "the idle presenter or its agent woke up"
