"""The watch's link on the real stack: its notification socket hanging up,
a bonded watch, a second central, bluetoothd going away, a stranger's call,
the adapter's power and its advertising slots."""

import asyncio
import json
import sys

from commands import UNLIKELY, round_trip, shut_down, subscribed_watch
from dbus_fast import Variant

from rig import AGENT_ADDRESS, Stranger, advertise_dummy, advertising_instances, register_pairing_agent
from agent_events import (ADVERTISING, CONNECTED, DISCONNECTED, POWERED_OFF, RESETTING, UNKNOWN, UNSUPPORTED,
                            WATCH_CONNECTED, WATCH_DISCONNECTED, ack_notified, ack_received, acknowledgement,
                            received, state_event)

LEFT = (WATCH_DISCONNECTED, DISCONNECTED, ADVERTISING)
JOINED = (WATCH_CONNECTED, CONNECTED)
DUMMY = ("Dummy", "0b5e7a11-0000-4000-8000-00000000d0d0")
IDENTIFIER = "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"


async def unsubscribe_and_reconnect(rig):
    """Unsubscribing on a live link and dropping the link both hang the
    socket up: the watch is gone and advertising comes back; it is served
    again after either. An acknowledgement made while no watch is subscribed
    goes out the moment one subscribes, and reaches it."""
    watch, agent = await subscribed_watch(rig)
    await watch.unsubscribe()
    await agent.expect(*LEFT)
    agent.send(acknowledgement("1"))
    await agent.expect(ack_received("1"), {"type": "ack_waiting_for_subscriber", "reason": "controller_ack"})
    await watch.subscribe()
    await agent.expect(*JOINED, ack_notified("OL2|A|1|E", "subscribe"))
    assert await watch.next_notification() == b"OL2|A|1|E"

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


async def bluetoothd_restart(rig):
    """bluetoothd dies under a served watch and comes back: the agent reports
    the watch gone, then bluetoothd resetting (whether the socket's hang-up or
    the loss of bluetoothd's bus name comes first), advertises again from hci0
    (bluetoothd registers its adapters from the highest index down), and a
    watch in a fresh process is served."""
    watch, agent = await subscribed_watch(rig)
    rig.stack.kill_bluetoothd()
    watch.forget()
    lost = [await agent.next_event() for _ in range(3)]
    assert lost == [WATCH_DISCONNECTED, DISCONNECTED, RESETTING], f"events {lost}"
    await asyncio.to_thread(rig.stack.start_bluetoothd)
    back = [await agent.next_event(timeout=40)]
    # Passing through these until hci0 is powered again; bluetoothd may own
    # its name a moment before it has any adapter.
    while back[-1] != ADVERTISING:
        assert back[-1] in (POWERED_OFF, UNKNOWN, UNSUPPORTED) and len(back) <= 3, f"events {back}"
        back.append(await agent.next_event(timeout=40))
    rig.note(f"bluetoothd killed: {json.dumps(lost)}; back: {json.dumps(back)}")

    tool = await asyncio.create_subprocess_exec(
        sys.executable, str(rig.tools / "orbilatch-watch"), "--adapter", "hci1", "--json", "--id", "77",
        "--wait", "10", "next", stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.PIPE)
    await agent.expect(*JOINED, timeout=90)
    await agent.expect(received(2, "77", "NEXT_SLIDE"))
    agent.send(acknowledgement("77"))
    await agent.expect(ack_received("77"), ack_notified("OL2|A|77|E"))
    out, err = await asyncio.wait_for(tool.communicate(), 60)
    seen = [json.loads(line) for line in out.decode().splitlines()]
    rig.log("orbilatch-watch", f"{seen}, exit {tool.returncode}, stderr {err.decode().strip()!r}")
    assert tool.returncode == 0, f"orbilatch-watch exited {tool.returncode}: {err.decode()}"
    assert [event["address"] for event in seen if event["kind"] == "found"] == [AGENT_ADDRESS], seen
    assert {"kind": "notification", "frame": "OL2|A|77|E"} in seen, seen
    await agent.expect(*LEFT)
    await shut_down(agent)


async def strangers_and_power(rig):
    """Only bluetoothd may call the agent's objects, and only bluetoothd's word
    counts: a local program writing a command itself is refused by the agent
    (not by the bus), and its tale that bluetoothd left or that the adapter
    is off drops nothing. Powering the adapter off takes the watch with it;
    powered on, the agent advertises again (and reports nothing else: a
    refusal from an adapter already going down is not the controller's
    business)."""
    watch, agent = await subscribed_watch(rig)
    async with Stranger(agent.process.process.pid) as stranger:
        bluetoothd = (await stranger.ask_bus("GetNameOwner", "s", "org.bluez")).body[0]
        await stranger.signal("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged", "sss",
                              "org.bluez", bluetoothd, "")
        await stranger.signal("/org/bluez/hci0", "org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
                              "org.bluez.Adapter1", {"Powered": Variant("b", False)}, [])
        # Answered after both signals: the agent reads a connection's messages in order.
        refused = await stranger.call("/org/orbilatch/agent/app0/service0/char0", "org.bluez.GattCharacteristic1",
                                      "WriteValue", "aya{sv}", b"OL2|C|66|N", {})
    assert refused == ("org.freedesktop.DBus.Error.AccessDenied", "Only bluetoothd may call this agent"), refused
    await round_trip(watch, agent, "67")

    assert (await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "off")).returncode == 0
    watch.forget()
    lost = [await agent.next_event() for _ in range(3)]
    assert lost in ([WATCH_DISCONNECTED, DISCONNECTED, POWERED_OFF],
                    [POWERED_OFF, WATCH_DISCONNECTED, DISCONNECTED]), f"events {lost}"
    assert (await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "on")).returncode == 0
    await agent.expect(ADVERTISING, timeout=40)
    await shut_down(agent)


async def advertising_refused(rig):
    """With every advertising slot of the adapter taken, bluetoothd refuses
    the agent's advertisement: the controller and a human hear bluetoothd's
    reason, and the agent carries on."""
    slots = await advertising_instances("hci0")
    held = [await advertise_dummy("hci0", *DUMMY) for _ in range(slots)]
    try:
        agent = rig.start_agent()
        await agent.expect(state_event("error", "Maximum advertisements reached"), timeout=40)
        await agent.expect_diagnostic("Advertising failed: Maximum advertisements reached")
        rig.note(f"hci0 takes {slots} advertisement(s) at once")
        await shut_down(agent)
    finally:
        for bus in held:
            bus.disconnect()
