"""The watch's link on the real stack: unsubscribing, disconnecting and
reconnecting (plain and bonded), a second central, and bluetoothd going away
under a running agent."""

import asyncio
import json
import sys

from commands import SUCCESS, UNLIKELY, Pacer, shut_down, subscribed_watch
from rig import AGENT_ADDRESS, advertise_dummy, advertising_instances, call_as_stranger, register_pairing_agent
from support.events import (ADVERTISING, CONNECTED, DISCONNECTED, POWERED_OFF, RESETTING, UNKNOWN,
                            WATCH_CONNECTED, WATCH_DISCONNECTED, ack_notified, ack_received,
                            acknowledgement, received)

LEFT = (WATCH_DISCONNECTED, DISCONNECTED, ADVERTISING)
JOINED = (WATCH_CONNECTED, CONNECTED)
DUMMY = ("Dummy", "0b5e7a11-0000-4000-8000-00000000d0d0")
IDENTIFIER = "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"


async def command_round_trip(watch, agent, command_id):
    """A command to the controller and its acknowledgement back."""
    assert await watch.write(f"OL2|C|{command_id}|N".encode()) == SUCCESS
    await agent.expect(received(2, command_id, "NEXT_SLIDE"))
    agent.send(acknowledgement(command_id))
    await agent.expect(ack_received(command_id), ack_notified(f"OL2|A|{command_id}|E"))
    assert await watch.next_notification() == f"OL2|A|{command_id}|E".encode()


async def unsubscribe_and_reconnect(rig):
    watch, agent = await subscribed_watch(rig)

    # Unsubscribing on a live link ends the watch; advertising comes back.
    await watch.unsubscribe()
    await agent.expect(*LEFT)
    await watch.subscribe()
    await agent.expect(*JOINED)
    await command_round_trip(watch, agent, "1")

    # Dropping the link does the same, and a new connection is served.
    await watch.disconnect()
    await agent.expect(*LEFT)
    again = rig.watch("hci1")
    await again.connect()
    await again.subscribe()
    await agent.expect(*JOINED)
    await command_round_trip(again, agent, "2")
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
        await command_round_trip(watch, agent, "1")

        await watch.disconnect()
        await agent.expect(*LEFT)

        again = rig.watch("hci1")
        await again.connect()
        await agent.expect(*JOINED)
        # The watch asks for notifications on its new connection as any
        # central does; for bluetoothd the subscription never ended.
        await again.subscribe()
        await command_round_trip(again, agent, "2")
        await agent.expect_quiet(1.0)
        await shut_down(agent)
    finally:
        pairing.disconnect()


async def second_central(rig):
    """A second central connects and subscribes while the watch is active.

    Newer bluetoothd asks the agent for each central's subscription: the
    agent refuses the second one with a diagnostic, never notifies it, and
    sees the watch come and go while the second central stays subscribed.
    bluetoothd 5.66 asks only for the first subscription and hangs it up only
    when the last subscriber leaves: the second central is invisible to the
    agent, receives whatever the watch's channel carries, and while it stays
    subscribed the watch's own unsubscription is invisible too. On both, the
    agent knows who writes and refuses the second central's writes."""
    per_device = rig.version >= (5, 69)
    # btvirt gives a peripheral the initiator's link handle: central B links
    # to a dummy on the fourth controller first, so its link to the agent
    # does not take the handle the watch already holds there.
    dummy = await advertise_dummy("hci3", *DUMMY)
    try:
        to_dummy = rig.watch("hci2", looks_for=DUMMY)
        await to_dummy.connect()

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

        pace = Pacer()
        await pace()
        assert await second.write(b"OL2|C|9|N") == UNLIKELY
        await agent.expect_quiet(1.0)

        await pace()
        await command_round_trip(watch, agent, "1")
        if per_device:
            await second.no_notification(2.0)
        else:
            assert await second.next_notification() == b"OL2|A|1|E"

        # The watch unsubscribes and comes back while the second central
        # stays subscribed.
        await watch.unsubscribe()
        if per_device:
            await agent.expect(*LEFT)
        else:
            await agent.expect_quiet(2.0)
        await watch.subscribe()
        if per_device:
            await agent.expect(*JOINED)
        else:
            await agent.expect_quiet(2.0)
        await command_round_trip(watch, agent, "2")
        if not per_device:
            assert await second.next_notification() == b"OL2|A|2|E"
            rig.note("5.66: the second central's subscription reached the agent as nothing at all, "
                     "it received the watch's acknowledgements, its write got ATT 0x0E, and the "
                     "watch's unsubscription and return while it stayed subscribed went unseen")

        await second.unsubscribe()
        await second.disconnect()
        await agent.expect_quiet(2.0)
        await command_round_trip(watch, agent, "3")
        await shut_down(agent)
    finally:
        dummy.disconnect()


async def bluetoothd_restart(rig):
    """bluetoothd dies under a running agent and comes back: the agent reports
    the loss, publishes and advertises again, and a watch is served again."""
    watch, agent = await subscribed_watch(rig)
    await command_round_trip(watch, agent, "1")

    rig.stack.kill_bluetoothd()
    watch.forget()
    # The watch's channel hangs up and bluetoothd's bus name goes, in either
    # order.
    lost = [await agent.next_event() for _ in range(3)]
    assert lost in ([RESETTING, WATCH_DISCONNECTED, DISCONNECTED],
                    [WATCH_DISCONNECTED, DISCONNECTED, RESETTING]), f"events {lost}"
    rig.note(f"bluetoothd killed: {' then '.join(json.dumps(event) for event in lost)}")

    await asyncio.to_thread(rig.stack.start_bluetoothd)
    # Until the adapter is powered again the agent may pass through these.
    passing = [POWERED_OFF, UNKNOWN]
    back = [await agent.next_event(timeout=40)]
    while back[-1] != ADVERTISING:
        assert back[-1] in passing and len(back) <= len(passing), f"events {back}"
        back.append(await agent.next_event(timeout=40))
    rig.note(f"bluetoothd back: {' then '.join(json.dumps(event) for event in back)}")

    # The command-line watch, a fresh process, finds the agent and is served.
    tool = await asyncio.create_subprocess_exec(
        sys.executable, str(rig.tools / "orbilatch-watch"), "--adapter", "hci1", "--json",
        "--id", "77", "--wait", "10", "next",
        stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.PIPE)
    await agent.expect(*JOINED, timeout=90)
    await agent.expect(received(2, "77", "NEXT_SLIDE"))
    agent.send(acknowledgement("77"))
    await agent.expect(ack_received("77"), ack_notified("OL2|A|77|E"))
    out, err = await asyncio.wait_for(tool.communicate(), 60)
    seen = [json.loads(line) for line in out.decode().splitlines()]
    for event in seen:
        rig.log("orbilatch-watch", json.dumps(event))
    rig.log("orbilatch-watch", f"exit {tool.returncode}, stderr {err.decode().strip()!r}")
    assert tool.returncode == 0, f"orbilatch-watch exited {tool.returncode}: {err.decode()}"
    # A new choice of adapter follows the same rule as at start: hci0, although
    # bluetoothd registers its adapters from the highest index down.
    found = [event["address"] for event in seen if event["kind"] == "found"]
    assert found == [AGENT_ADDRESS], f"after the restart the agent advertised from {found}, not hci0"
    assert {"kind": "write", "frame": "OL2|C|77|N", "att": 0} in seen, seen
    assert {"kind": "notification", "frame": "OL2|A|77|E"} in seen, seen
    await agent.expect(*LEFT)
    await shut_down(agent)


async def strangers_and_power(rig):
    """Only bluetoothd may call the agent's objects: a local program that
    writes a command itself is refused and nothing reaches the controller.
    The adapter powered off takes the watch with it; powered on again, the
    agent advertises again (and nothing else: a refusal of the advertisement
    restarted as the watch left, by an adapter already going down, is not
    the controller's business)."""
    watch, agent = await subscribed_watch(rig)
    command = "/org/orbilatch/agent/app0/service0/char0"
    refused = await call_as_stranger(agent.process.process.pid, command, "org.bluez.GattCharacteristic1",
                                     "WriteValue", "aya{sv}", b"OL2|C|66|N", {})
    assert refused == "org.freedesktop.DBus.Error.AccessDenied", refused
    await agent.expect_quiet(1.0)

    out = await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "off")
    assert out.returncode == 0, out.stdout
    watch.forget()
    lost = [await agent.next_event() for _ in range(3)]
    assert sorted(map(json.dumps, lost)) == sorted(map(json.dumps, [WATCH_DISCONNECTED, DISCONNECTED,
                                                                    POWERED_OFF])), f"events {lost}"
    assert lost.index(WATCH_DISCONNECTED) < lost.index(DISCONNECTED), f"events {lost}"
    out = await asyncio.to_thread(rig.stack.btmgmt, "--index", "0", "power", "on")
    assert out.returncode == 0, out.stdout
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
        await agent.expect({"type": "ble_state_changed", "state": "error", "message": "Maximum advertisements reached"},
                           timeout=40)
        await agent.expect_diagnostic("Advertising failed: Maximum advertisements reached")
        rig.note(f"hci0 takes {slots} advertisement(s) at once")
        await shut_down(agent)
    finally:
        for bus in held:
            bus.disconnect()
