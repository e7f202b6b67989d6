"""Commands from the watch to the controller and acknowledgements back, on
the real stack: each scenario checks the agent's exact event lines and what
the watch saw (ATT results and notified frames)."""

import asyncio
import time

from orbilatch_watch import ACKNOWLEDGEMENT_UUID, COMMAND_UUID

from support.events import (CONNECTED, SHUTDOWN, WATCH_CONNECTED, ack_notified, ack_received,
                            acknowledgement, malformed, received)

# ATT results as the watch receives them.
SUCCESS = 0x00
INVALID_LENGTH = 0x0D
UNLIKELY = 0x0E

RATE_LIMITED = malformed("BLE command rate limit exceeded")


class Pacer:
    """Keeps single writes at least `gap` seconds apart, so a sequence of
    them never meets the ten-per-second limit."""

    def __init__(self, gap=0.15):
        self.gap = gap
        self.last = 0.0

    async def __call__(self):
        wait = self.last + self.gap - time.monotonic()
        if wait > 0:
            await asyncio.sleep(wait)
        self.last = time.monotonic()


async def subscribed_watch(rig):
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)
    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED)
    return watch, agent


async def shut_down(agent):
    """Shutdown on standard input: the last state line, exit status 0, and
    nothing after it: the watch stays served until the exit."""
    agent.send({"type": "shutdown"})
    await agent.expect(SHUTDOWN)
    assert await agent.wait_exit() == 0, "the agent must exit with status 0"
    rest = await agent.remaining_events()
    assert rest == [], f"after shutdown: {rest}"


async def typical_exchange(rig):
    watch, agent = await subscribed_watch(rig)
    # Write with response only: with write-without-response bluetoothd would
    # acknowledge writes itself. Notify only: nothing to read or write.
    assert watch.service_characteristics() == {COMMAND_UUID: ["write"],
                                               ACKNOWLEDGEMENT_UUID: ["notify"]}

    assert await watch.write(b"OL2|C|42|N") == SUCCESS
    await agent.expect(received(2, "42", "NEXT_SLIDE"))
    agent.send(acknowledgement("42"))
    await agent.expect(ack_received("42"), ack_notified("OL2|A|42|E"))
    assert await watch.next_notification() == b"OL2|A|42|E"

    await shut_down(agent)
    assert agent.drain_stderr() == [], "no diagnostics expected"


async def every_command_letter(rig):
    """Every letter of both versions reaches the controller; each
    acknowledgement reaches the watch as the frame of its version and outcome,
    up to the largest frame (twenty bytes each way)."""
    watch, agent = await subscribed_watch(rig)
    pace = Pacer()
    cases = [
        # version, commandId, letter, command, acknowledgement (status, errorCode), frame
        (1, "1", "N", "NEXT_SLIDE", ("executed", None), "PP1|A|1|E"),
        (1, "2", "P", "PREVIOUS_SLIDE", ("failed", None), "PP1|A|2|D"),
        (1, "3", "X", "END_PRESENTATION", ("failed", "PRESENTATION_ENDED"), "PP1|A|3|D"),
        (2, "a.b:c-1_2", "S", "START_PRESENTATION", ("executed", None), "OL2|A|a.b:c-1_2|E"),
        (2, "5", "N", "NEXT_SLIDE", ("executed", None), "OL2|A|5|E"),
        (2, "6", "P", "PREVIOUS_SLIDE", ("failed", "PRESENTATION_ENDED"), "OL2|A|6|X"),
        (2, "abcdefghijkl", "B", "TOGGLE_BLACK_SCREEN", ("failed", "NO_DECK"), "OL2|A|abcdefghijkl|D"),
        (2, "8", "X", "END_PRESENTATION", ("executed", None), "OL2|A|8|E"),
    ]
    for version, command_id, letter, command, (status, error_code), frame in cases:
        tag = "PP1" if version == 1 else "OL2"
        await pace()
        assert await watch.write(f"{tag}|C|{command_id}|{letter}".encode()) == SUCCESS
        await agent.expect(received(version, command_id, command))
        agent.send(acknowledgement(command_id, version, status, error_code))
        await agent.expect(ack_received(command_id, status), ack_notified(frame))
        assert await watch.next_notification() == frame.encode()
    await shut_down(agent)


async def malformed_frames(rig):
    """Each decoding error is reported with its message and answered with
    Invalid Attribute Value Length; the agent keeps serving the watch."""
    watch, agent = await subscribed_watch(rig)
    pace = Pacer()
    cases = [
        (b"", "BLE frame is empty"),
        (b"OL2|C|abcdefghijklm|N", "BLE frame exceeds maximum size"),
        (b"PP1|C|\xff|N", "BLE frame is not UTF-8"),
        (b"PP1|A|42|E", "Malformed BLE command frame"),
        (b"OL2|C|4 2|N", "Invalid commandId"),
        (b"OL2|C|42|Q", "Unknown BLE command"),
        (b"PP1|C|42|B", "Unknown BLE command"),
    ]
    for frame, message in cases:
        await pace()
        att = await watch.write(frame)
        assert att == INVALID_LENGTH, f"{frame!r}: ATT 0x{att:02X}"
        await agent.expect(malformed(message))
    await pace()
    assert await watch.write(b"PP1|C|9|N") == SUCCESS
    await agent.expect(received(1, "9", "NEXT_SLIDE"))
    await shut_down(agent)
    assert agent.drain_stderr() == [], "refused frames write no diagnostics"


async def rate_limit(rig):
    """Eleven writes inside one second: ten are reported, the eleventh to
    arrive is refused. The agent asks for Insufficient Resources; bluetoothd
    sends Unlikely Error for it (it forwards no code below 0x80 but 0x0E).

    One ATT bearer carries one write at a time, so the eleven arrive inside
    one second only when a write's round trip through the emulated stack is
    under 100 ms. When the agent's lines show that they did not, the burst is
    sent again; what the agent decided is asserted only for a burst that fit."""
    watch, agent = await subscribed_watch(rig)
    spans = []
    for attempt in range(1, 9):
        await asyncio.sleep(1.1)  # an empty window
        frames = [f"OL2|C|b{attempt}n{number}|N".encode() for number in range(11)]
        results = await asyncio.gather(*(watch.write(frame) for frame in frames))
        events, times = [], []
        for _ in frames:
            events.append(await agent.next_event())
            times.append(agent.last_event_at)
        span = times[-1] - times[0]  # the agent writes each line as the write arrives
        spans.append(f"{span:.2f}")
        if span >= 0.95:
            continue
        refused = [frame for frame, att in zip(frames, results) if att != SUCCESS]
        assert [results.count(SUCCESS), len(refused)] == [10, 1], f"ATT results {results}"
        assert results[frames.index(refused[0])] == UNLIKELY, f"ATT results {results}"
        assert events[-1] == RATE_LIMITED, f"the eleventh to arrive must be refused: {events}"
        reported = [event["commandId"] for event in events[:-1]]
        accepted = [frame.decode().split("|")[2] for frame in frames if frame not in refused]
        assert sorted(reported) == sorted(accepted), f"reported {reported}, accepted {accepted}"
        assert events[:-1] == [received(2, command_id, "NEXT_SLIDE") for command_id in reported]
        rig.note(f"eleven writes arrived within {span:.2f} s (attempt {attempt}): "
                 f"{refused[0].decode()} refused, the watch got ATT 0x{UNLIKELY:02X}")
        break
    else:
        raise AssertionError(f"no burst of eleven writes arrived within one second (spans {spans} s): "
                             "the emulated stack is too slow on this machine to reach the limit")

    await asyncio.sleep(1.1)
    assert await watch.write(b"OL2|C|after|N") == SUCCESS
    await agent.expect(received(2, "after", "NEXT_SLIDE"))
    await shut_down(agent)


async def acknowledgement_waits_for_subscriber(rig):
    """A connected watch that has not subscribed is not the agent's watch:
    its write is refused silently. An acknowledgement made meanwhile waits and
    goes out when the watch subscribes."""
    watch = rig.watch("hci1")
    agent = await rig.connect_watch_to_new_agent(watch)

    assert await watch.write(b"OL2|C|1|N") == UNLIKELY
    agent.send(acknowledgement("7"))
    await agent.expect(ack_received("7"),
                       {"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})

    await watch.subscribe()
    await agent.expect(WATCH_CONNECTED, CONNECTED, ack_notified("OL2|A|7|E", "subscribe"))
    assert await watch.next_notification() == b"OL2|A|7|E"
    await shut_down(agent)
