"""Soak: the agent on the real stack for a while, used as a watch and a
controller use it, with the link dropping now and then.

Each cycle the watch sends commands one after the other, each acknowledged by
the controller and notified back; then a burst of fifteen writes at once,
those beyond the rate limit refused; then the watch goes away with an
acknowledgement pending (unsubscribing, or disconnecting) and comes back to
it. Nothing may be lost or misordered:

- every write answered success has its command_received, every refused one
  its report, and nothing else is reported;
- every acknowledgement reaches the watch, at once or when it comes back;
- nothing is written to standard error (as in every scenario);
- the agent's resident memory is as large at the end as after the first
  cycles, give or take a little.
"""

import asyncio
import time

from agent_events import (ADVERTISING, CONNECTED, DISCONNECTED, RATE_LIMITED, WATCH_CONNECTED,
                            WATCH_DISCONNECTED, ack_notified, ack_received, acknowledgement, received)
from commands import SUCCESS, UNLIKELY

BURST = 15
WARM_UP_CYCLES = 2
# Resident memory may move by allocator noise, not by anything that grows
# with the number of commands.
RSS_SLACK_KIB = 1024


def rss_kib(agent):
    with open(f"/proc/{agent.process.process.pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


class Soak:
    def __init__(self, rig, agent, watch):
        self.rig, self.agent, self.watch = rig, agent, watch
        self.serial = 0
        self.counts = {"commands": 0, "burst writes admitted": 0, "burst writes refused": 0, "links dropped": 0}

    def next_id(self):
        self.serial += 1
        return f"k{self.serial}"

    async def round_trip(self):
        command_id = self.next_id()
        assert await self.watch.write(f"OL2|C|{command_id}|N".encode()) == SUCCESS, command_id
        await self.agent.expect(received(2, command_id, "NEXT_SLIDE"))
        self.agent.send(acknowledgement(command_id))
        await self.agent.expect(ack_received(command_id), ack_notified(f"OL2|A|{command_id}|E"))
        assert await self.watch.next_notification() == f"OL2|A|{command_id}|E".encode()
        self.counts["commands"] += 1

    async def burst(self):
        ids = [self.next_id() for _ in range(BURST)]
        results = await asyncio.gather(*(self.watch.write(f"OL2|C|{i}|N".encode()) for i in ids))
        events = [await self.agent.next_event() for _ in ids]
        admitted = [i for i, result in zip(ids, results) if result == SUCCESS]
        reported = [event["commandId"] for event in events if event["type"] == "command_received"]
        assert sorted(reported) == sorted(admitted), f"admitted {admitted}, reported {events}"
        refused = [event for event in events if event["type"] != "command_received"]
        assert refused == [RATE_LIMITED] * (BURST - len(admitted)), f"ATT results {results}, events {events}"
        assert set(results) <= {SUCCESS, UNLIKELY}, f"ATT results {results}"
        self.counts["burst writes admitted"] += len(admitted)
        self.counts["burst writes refused"] += len(refused)
        await asyncio.sleep(1.1)  # the next round trips are not refused

    async def drop_link(self, disconnect):
        """The watch leaves; the controller's acknowledgement waits for it."""
        if disconnect:
            await self.watch.disconnect()
        else:
            await self.watch.unsubscribe()
        await self.agent.expect(WATCH_DISCONNECTED, DISCONNECTED, ADVERTISING)
        command_id = self.next_id()
        self.agent.send(acknowledgement(command_id))
        await self.agent.expect(ack_received(command_id),
                                {"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
        if disconnect:
            self.watch = self.rig.watch("hci1")
            await self.watch.connect()
        await self.watch.subscribe()
        await self.agent.expect(WATCH_CONNECTED, CONNECTED, ack_notified(f"OL2|A|{command_id}|E", "subscribe"))
        assert await self.watch.next_notification() == f"OL2|A|{command_id}|E".encode()
        self.counts["links dropped"] += 1


async def soak(rig):
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)
    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED)
    run = Soak(rig, agent, watch)
    started = time.monotonic()
    end = started + rig.options.get("minutes", 2) * 60
    rss, cycle = {}, 0
    while time.monotonic() < end:
        cycle += 1
        for _ in range(20):
            await run.round_trip()
        await run.burst()
        await run.drop_link(disconnect=cycle % 2 == 0)
        if cycle == WARM_UP_CYCLES:
            rss["after warm-up"] = rss_kib(agent)
        rss["largest"] = max(rss.get("largest", 0), rss_kib(agent))
        rig.log("soak", f"cycle {cycle}: {time.monotonic() - started:.0f} s, {run.serial} commands")
    rss["end"] = rss_kib(agent)
    rig.note(f"{(time.monotonic() - started) / 60:.1f} min, {cycle} cycles: "
             + ", ".join(f"{name} {count}" for name, count in run.counts.items()))
    rig.note("RSS (KiB): " + ", ".join(f"{name} {value}" for name, value in rss.items()))
    growth = rss["end"] - rss.get("after warm-up", rss["end"])
    assert growth <= RSS_SLACK_KIB, f"resident memory grew by {growth} KiB after warm-up"
