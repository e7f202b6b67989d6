"""Tap to key, two benchmarks of one boot: the same paced taps of the virtual
watch at a bare controller (to the agent's command_received line, when a
Python thread read it) and at the presenter (to the key event of its virtual
keyboard, stamped by the kernel: the ratio leans, if anything, against the
presenter). Each tap waits for its acknowledgement at the watch before the
next. The samples, in seconds, go to tap_to_key-<scenario>.json in the
results folder, for bench/vm.py to sum up."""

import asyncio
import json
import time

from evdev import ecodes

from commands import SUCCESS, shut_down, subscribed_watch
from orbilatch_watch import command_frame
from presenter_rig import KeyReader, connect_watch_to_new_presenter, load_uinput
from agent_events import CONNECTED, WATCH_CONNECTED, ack_notified, ack_received, acknowledgement, received

# The agent admits ten writes in any one second: a tap every 150 ms at the
# most keeps clear of that however the arrivals jitter.
GAP_S = 0.15


async def paced_taps(rig, watch, controller, tap):
    """Taps NEXT_SLIDE the planned number of times; tap(command_id, started)
    returns the sample once the command arrived, then its acknowledgement
    is awaited."""
    taps = int(rig.options.get("taps", 120))
    samples = []
    next_at = time.monotonic()
    for number in range(1, taps + 1):
        await asyncio.sleep(max(0.0, next_at - time.monotonic()))
        command_id = str(number)
        started = next_at = time.monotonic()
        next_at += GAP_S
        assert await watch.write(command_frame("next", command_id)) == SUCCESS
        samples.append(await tap(command_id, started))
        frame = f"OL2|A|{command_id}|E"
        await controller.expect(ack_received(command_id), ack_notified(frame))
        assert await watch.next_notification() == frame.encode()
    (rig.results_dir / f"tap_to_key-{rig.scenario}.json").write_text(json.dumps(samples))


async def bare_controller(rig):
    watch, agent = await subscribed_watch(rig)

    async def tap(command_id, started):
        await agent.expect(received(2, command_id, "NEXT_SLIDE"))
        agent.send(acknowledgement(command_id))
        return agent.last_event_at - started

    await paced_taps(rig, watch, agent, tap)
    await shut_down(agent)


async def presenter(rig):
    load_uinput()
    watch = rig.watch("hci1")
    present = await connect_watch_to_new_presenter(rig, watch, "--keyboard", "uinput", "--no-notify")
    await present.expect_diagnostic("orbilatch-present: keys go out through .*uinput.*")
    await present.expect_diagnostic("orbilatch-present: no session bus; pdfpc and Okular get keys")
    await present.expect_diagnostic("orbilatch-present: LibreOffice Impress through its remote control, .*")
    keyboard = KeyReader()
    try:
        await watch.subscribe()
        await present.expect(WATCH_CONNECTED, CONNECTED)

        async def tap(command_id, started):
            (code, value, pressed_at), (released, value_after, _) = await keyboard.next(2)
            assert (code, value, released, value_after) == (ecodes.KEY_PAGEDOWN, 1, ecodes.KEY_PAGEDOWN, 0)
            await present.expect(received(2, command_id, "NEXT_SLIDE"))
            return pressed_at - started

        await paced_taps(rig, watch, present, tap)
        present.interrupt()
        assert await present.wait() == 0
    finally:
        keyboard.close()
