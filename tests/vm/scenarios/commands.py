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
    assert agent.drain_stderr() == [], "no diagnostics expected"


async def rate_limit(rig):
    """Eleven writes inside one second: the eleventh to arrive is refused.
    The agent asks for Insufficient Resources (0x11); bluetoothd sends 0x0E.

    One ATT bearer carries one write at a time, so the eleven arrive within a
    second only when a round trip through the emulated stack is under 100 ms:
    a burst that did not fit is sent again, and only one that fit is judged."""
    watch, agent = await subscribed_watch(rig)
    spans = []
    for attempt in range(1, 9):
        await asyncio.sleep(1.1)  # an empty window
        frames = [f"OL2|C|b{attempt}n{number}|N".encode() for number in range(11)]
        results = await asyncio.gather(*(watch.write(frame) for frame in frames))
        events, times = [], []
        for _ in frames:
            events.append(await agent.next_event())
            times.append(agent.last_event_at)  # the agent writes each line as its write arrives
        spans.append(round(times[-1] - times[0], 2))
        if spans[-1] < 0.95:
            break
    else:
        raise AssertionError(f"no burst of eleven writes arrived within one second (spans {spans} s)")
    assert sorted(results) == [SUCCESS] * 10 + [UNLIKELY], f"ATT results {results}"
    assert events[-1] == RATE_LIMITED, f"the eleventh to arrive must be refused: {events}"
    accepted = [frame.decode().split("|")[2] for frame, att in zip(frames, results) if att == SUCCESS]
    assert sorted(event["commandId"] for event in events[:-1]) == sorted(accepted), events
    rig.note(f"eleven writes arrived within {spans[-1]:.2f} s (attempt {attempt}); the watch got ATT 0x0E")
    await shut_down(agent)
