"""The guest's half of bench/tap_to_key.py, run by the VM's test runner: the
same paced taps of the virtual watch, first at a bare controller (to the
agent's command_received line), then at the presenter (to the key event of
its virtual keyboard, stamped by the kernel). Each tap waits for its
acknowledgement at the watch before the next. Writes the samples, in seconds,
to tap_to_key.json in the results folder."""

import asyncio
import json
import time

from evdev import ecodes

from commands import SUCCESS, shut_down, subscribed_watch
from orbilatch_watch import command_frame
from presenter_rig import KeyReader, connect_watch_to_new_presenter, load_uinput
from rig import CONNECTED, WATCH_CONNECTED, ack_notified, ack_received, acknowledgement, received

# The agent admits ten writes in any one second: a tap every 150 ms at the
# most keeps clear of that however the arrivals jitter.
GAP_S = 0.15


async def paced(count, tap):
    samples = []
    next_at = time.monotonic()
    for number in range(1, count + 1):
        await asyncio.sleep(max(0.0, next_at - time.monotonic()))
        next_at = time.monotonic() + GAP_S
        samples.append(await tap(str(number)))
    return samples


async def measure(rig):
    async def acknowledged(controller, command_id):
        """Its events and the watch's notification, before the next tap."""
        frame = f"OL2|A|{command_id}|E"
        await controller.expect(ack_received(command_id), ack_notified(frame))
        assert await watch.next_notification() == frame.encode()

    taps = json.loads((rig.results_dir / "plan.json").read_text())["taps"]

    watch, agent = await subscribed_watch(rig)

    async def bare_tap(command_id):
        started = time.monotonic()
        assert await watch.write(command_frame("next", command_id)) == SUCCESS
        await agent.expect(received(2, command_id, "NEXT_SLIDE"))
        arrived = agent.last_event_at
        agent.send(acknowledgement(command_id))
        await acknowledged(agent, command_id)
        return arrived - started

    bare = await paced(taps, bare_tap)
    await shut_down(agent)
    await watch.disconnect()

    load_uinput()
    watch = rig.watch("hci1")
    presenter = await connect_watch_to_new_presenter(rig, watch, "--keyboard", "uinput")
    keyboard = KeyReader()
    await watch.subscribe()
    await presenter.expect(WATCH_CONNECTED, CONNECTED)

    async def presenter_tap(command_id):
        started = time.monotonic()
        assert await watch.write(command_frame("next", command_id)) == SUCCESS
        (code, value, pressed_at), release = await keyboard.next(2)
        assert (code, value, release[:2]) == (ecodes.KEY_PAGEDOWN, 1, (ecodes.KEY_PAGEDOWN, 0))
        await presenter.expect(received(2, command_id, "NEXT_SLIDE"))
        await acknowledged(presenter, command_id)
        return pressed_at - started

    try:
        keyed = await paced(taps, presenter_tap)
        presenter.interrupt()
        assert await presenter.wait() == 0
    finally:
        keyboard.close()
        presenter.kill()
    (rig.results_dir / "tap_to_key.json").write_text(json.dumps({"bare": bare, "presenter": keyed}))
