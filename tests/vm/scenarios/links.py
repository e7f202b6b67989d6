"""The watch's link on the real stack: its notification socket hanging up,
a bonded watch, a second central, the adapter's power, bluetoothd's restart."""

import asyncio

from commands import UNLIKELY, round_trip, shut_down, subscribed_watch

from rig import AGENT_ADDRESS, advertise_dummy, forget_devices, register_pairing_agent
from agent_events import (ADVERTISING, CONNECTED, DISCONNECTED, POWERED_OFF, RESETTING, UNSUPPORTED, WATCH_CONNECTED,
                            WATCH_DISCONNECTED)

LEFT = (WATCH_DISCONNECTED, DISCONNECTED, ADVERTISING)
JOINED = (WATCH_CONNECTED, CONNECTED)
DUMMY = ("Dummy", "0b5e7a11-0000-4000-8000-00000000d0d0")
IDENTIFIER = "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"


async def unsubscribe_and_reconnect(rig):
    """Unsubscribing on a live link and dropping the link both hang the
    socket up: the watch is gone and advertising comes back; it is served
    again after either."""
    watch, agent = await subscribed_watch(rig)
    await watch.unsubscribe()
    await agent.expect(*LEFT)
    await watch.subscribe()
    await agent.expect(*JOINED)
    await round_trip(watch, agent, "1")

    await watch.disconnect()
    await agent.expect(*LEFT)
    again = rig.watch("hci1")
    await again.connect()
    await again.subscribe()
    await agent.expect(*JOINED)
    await round_trip(again, agent, "2")
    await shut_down(agent)


async def bonded_watch_reconnects(rig):
    """bluetoothd keeps a bonded watch's subscription across a disconnect and
    never asks for it again: the watch is back the moment its link is."""
    pairing = await register_pairing_agent()
    try:
        watch = rig.watch("hci1")
        agent = await rig.connect_watch_to_new_agent(watch)
        await watch.pair()
        await watch.subscribe()
        await agent.expect(*JOINED)
        await round_trip(watch, agent, "1")
        await watch.disconnect()
        await agent.expect(*LEFT)

        again = rig.watch("hci1")
        await again.connect()
        await agent.expect(*JOINED)
        await again.subscribe()  # as any central does; nothing new for the agent
        await round_trip(again, agent, "2")
        await agent.expect_quiet(1.0)
        await shut_down(agent)
    finally:
        pairing.disconnect()


async def second_central(rig):
    """A second central subscribes while the watch is served. Newer bluetoothd
    asks for each central's subscription: the agent refuses the second with a
    diagnostic, never notifies it, and sees the watch leave and return while
    the second stays. 5.66 asks for the first subscription only and shares
    its socket: the second is invisible to the agent, receives the watch's
    acknowledgements, and hides the watch's unsubscription. On both the agent
    knows who writes and refuses the second central's writes."""
    per_device = rig.version >= (5, 69)
    # btvirt gives a peripheral the initiator's link handle: the second central
    # links to a dummy on the fourth controller first, so that its link to the
    # agent does not take the handle the watch already holds there.
    dummy = await advertise_dummy("hci3", *DUMMY)
    try:
        await rig.watch("hci2", looks_for=DUMMY).connect()
        watch = rig.watch("hci1")
        agent = await rig.connect_watch_to_new_agent(watch)
        second = rig.watch("hci2")
        await second.connect()  # the agent advertises until a watch subscribes
        await watch.subscribe()
        await agent.expect(*JOINED)
        await second.subscribe()
        if per_device:
            await agent.expect_diagnostic(f"Rejecting additional central {IDENTIFIER}; spike allows one watch")
        await agent.expect_quiet(2.0)
        assert await second.write(b"OL2|C|9|N") == UNLIKELY
        await agent.expect_quiet(1.0)

        async def served(command_id):
            await round_trip(watch, agent, command_id)
            if per_device:
                await second.no_notification(2.0)
            else:
                assert await second.next_notification() == f"OL2|A|{command_id}|E".encode()

        await served("1")
        await watch.unsubscribe()
        await (agent.expect(*LEFT) if per_device else agent.expect_quiet(2.0))
        await watch.subscribe()
        await (agent.expect(*JOINED) if per_device else agent.expect_quiet(2.0))
        await served("2")
        await second.unsubscribe()
        await second.disconnect()
        await agent.expect_quiet(2.0)
        await round_trip(watch, agent, "3")
        await shut_down(agent)
    finally:
        dummy.disconnect()


async def power_off_and_on(rig):
    """Powering the adapter off takes the watch with it; powered on, the agent
    advertises again (and reports nothing else: a refusal from an adapter
    already going down is not the controller's business)."""
    watch, agent = await subscribed_watch(rig)
    assert (await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "off")).returncode == 0
    watch.forget()
    lost = [await agent.next_event() for _ in range(3)]
    assert lost in ([WATCH_DISCONNECTED, DISCONNECTED, POWERED_OFF],
                    [POWERED_OFF, WATCH_DISCONNECTED, DISCONNECTED]), f"events {lost}"
    assert (await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "on")).returncode == 0
    await agent.expect(ADVERTISING, timeout=40)
    await shut_down(agent)


async def bluetoothd_restart(rig):
    """bluetoothd dies under a served watch and comes back. Whether the watch's
    socket hangs up or bluetoothd's name goes first, the agent reports the
    watch gone, then resetting, and no refusal of the advertising it asked for
    meanwhile. bluetoothd registers its adapters from the highest index down,
    and gives none of them its advertising manager before all are there: the
    agent advertises once, from hci0, and a new watch is served there."""
    watch, agent = await subscribed_watch(rig)
    rig.stack.kill_bluetoothd()
    watch.forget()
    await agent.expect(WATCH_DISCONNECTED, DISCONNECTED, RESETTING)
    await asyncio.to_thread(rig.stack.start_bluetoothd)
    # bluetoothd may own its name a moment before it lists any adapter.
    back = [await agent.next_event(timeout=40)]
    while back[-1] != ADVERTISING:
        assert back[-1] in (UNSUPPORTED, POWERED_OFF) and len(back) < 3, f"events {back}"
        back.append(await agent.next_event(timeout=40))
    # The watch shares the bluetoothd that restarted, which read back the
    # agent's attributes as the watch cached them before: a watch of its own
    # never does. It forgets them, and finds the service where it is now.
    await asyncio.to_thread(forget_devices)
    again = rig.watch("hci1")
    await again.connect()
    assert again.device.address == AGENT_ADDRESS, f"the agent is on {again.device.address}, not hci0"
    await again.subscribe()
    await agent.expect(*JOINED)
    await round_trip(again, agent, "2")
    await shut_down(agent)
