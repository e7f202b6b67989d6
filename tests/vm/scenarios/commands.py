"""Commands and acknowledgements where the real stack decides: the service as
the watch discovers it, the largest frames each way and the ATT codes it
receives, each once; and the helpers of the other scenarios and benchmarks."""

import asyncio

from orbilatch_watch import ACKNOWLEDGEMENT_UUID, COMMAND_UUID

from agent_events import (CONNECTED, RATE_LIMITED, SHUTDOWN, WATCH_CONNECTED, ack_notified, ack_received,
                            acknowledgement, malformed, received)

# ATT results as the watch receives them.
SUCCESS, INVALID_LENGTH, UNLIKELY = 0x00, 0x0D, 0x0E


async def subscribed_watch(rig):
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)
    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED)
    return watch, agent


async def round_trip(watch, agent, command_id):
    """A command to the controller and its acknowledgement back to the watch."""
    frame = f"OL2|A|{command_id}|E"
    att = await watch.write(f"OL2|C|{command_id}|N".encode())
    assert att == SUCCESS, f"command {command_id}: ATT 0x{att:02X}"
    await agent.expect(received(2, command_id, "NEXT_SLIDE"))
    agent.send(acknowledgement(command_id))
    await agent.expect(ack_received(command_id), ack_notified(frame))
    assert await watch.next_notification() == frame.encode()


async def shut_down(agent):
    """Shutdown on standard input: the last state line, exit status 0, and
    nothing after it."""
    agent.send({"type": "shutdown"})
    await agent.expect(SHUTDOWN)
    assert await agent.wait_exit() == 0, "the agent must exit with status 0"
    rest = await agent.remaining_events()
    assert rest == [], f"after shutdown: {rest}"


async def typical_exchange(rig):
    watch, agent = await subscribed_watch(rig)
    # Write with response only (bluetoothd would answer a write without
    # response itself), notify only.
    assert watch.service_characteristics() == {COMMAND_UUID: ["write"], ACKNOWLEDGEMENT_UUID: ["notify"]}
    att = await watch.write(b"OL2|C|42|Q")
    assert att == INVALID_LENGTH, f"an undecodable frame got ATT 0x{att:02X}"
    await agent.expect(malformed("Unknown BLE command"))
    # Twenty bytes each way, within the default MTU.
    await round_trip(watch, agent, "abcdefghijkl")
    await shut_down(agent)


async def rate_limit(rig):
    """A write beyond the rate limit: the agent asks for Insufficient
    Resources (0x11), bluetoothd sends Unlikely Error (0x0E). Ten writes
    without response, which wait for no answer, then one with response, after
    a quiet second; tried again while the eleven took more than a second to
    reach the agent."""
    watch, agent = await subscribed_watch(rig)
    for attempt in range(1, 9):
        await asyncio.sleep(1.1)
        ids = [f"t{attempt}n{number}" for number in range(11)]
        await asyncio.gather(*(watch.write(f"OL2|C|{i}|N".encode(), response=False) for i in ids[:10]))
        att = await watch.write(f"OL2|C|{ids[10]}|N".encode())
        events = [await agent.next_event() for _ in ids]
        assert sorted(events[:10], key=lambda e: e.get("commandId", "")) == [
            received(2, i, "NEXT_SLIDE") for i in sorted(ids[:10])], events
        if att == UNLIKELY and events[10] == RATE_LIMITED:
            rig.note(f"try {attempt} met the rate limit; the watch got ATT 0x0E")
            break
        assert (att, events[10]) == (SUCCESS, received(2, ids[10], "NEXT_SLIDE")), f"ATT 0x{att:02X}, {events[10]}"
    else:
        raise AssertionError("the eleven writes never reached the agent within a second")
    await shut_down(agent)
