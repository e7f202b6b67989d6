"""What the agent costs while nothing happens: it advertises, then serves a
subscribed watch, and is left alone. Counts the context switches of each of
its threads over the interval (from /proc/<pid>/task/*/status) and reports
its resident memory. An idle agent has no timer and nothing to poll, so every
count must be zero."""

import asyncio
import os

from agent_events import CONNECTED, WATCH_CONNECTED

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


async def measure(rig, agent, what):
    pid = agent.process.process.pid
    await asyncio.sleep(1.0)  # the last replies settle
    before = threads(pid)
    await asyncio.sleep(rig.options.get("seconds", 10))
    after = threads(pid)
    memory = fields(f"/proc/{pid}/status", {"VmRSS", "VmHWM"})
    woke = {tid: switches - before.get(tid, (None, None, 0))[2] for tid, (_, _, switches) in after.items()}
    rig.note(f"{what}: " + ", ".join(f"thread {after[tid][0]} in {after[tid][1]} woke {count} times"
                                     for tid, count in woke.items())
             + f"; RSS {memory['VmRSS']} KiB (peak {memory['VmHWM']} KiB)")
    await agent.expect_quiet(0.1)
    return sum(woke.values())


async def idle_cost(rig):
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)
    wakeups = await measure(rig, agent, "advertising")
    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED)
    wakeups += await measure(rig, agent, "serving a subscribed watch")
    assert wakeups == 0, "the idle agent woke up"
