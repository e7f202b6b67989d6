"""The moments between the controller's shutdown and the agent's exit, on the
real stack: the service stays registered until the exit, so what was already
due still reaches the watch, and a watch that leaves then is still reported."""

import json
import os
import signal

from commands import SUCCESS, subscribed_watch
from rig import device_connected
from agent_events import (DISCONNECTED, SHUTDOWN, WATCH_DISCONNECTED, ack_notified, ack_received,
                            acknowledgement, received)


async def last_acknowledgement_before_shutdown(rig):
    """The controller acknowledges the last command and shuts the agent down
    in the same breath (one write): the acknowledgement falls due before the
    exit and reaches the watch."""
    watch, agent = await subscribed_watch(rig)
    assert await watch.write(b"OL2|C|42|X") == SUCCESS
    await agent.expect(received(2, "42", "END_PRESENTATION"))
    agent.send(acknowledgement("42"), {"type": "shutdown"})
    await agent.expect(ack_received("42"), SHUTDOWN, ack_notified("OL2|A|42|E"))
    assert await agent.wait_exit() == 0
    assert await agent.remaining_events() == []
    assert await watch.next_notification() == b"OL2|A|42|E"


async def watch_leaving_while_stopping(rig):
    """The watch leaves after the shutdown began and before the exit: its
    departure is reported, and advertising does not start again.

    To put the departure inside those 50 ms, the agent is stopped (SIGSTOP)
    the moment it writes the shutdown line, the watch disconnects, and once
    bluetoothd has said so the agent goes on: the departure and the overdue
    exit are then due together, and bluetoothd's news is handled first.
    When the agent exits before the signal lands (the machine may be busy for
    50 ms), the scenario runs once more, and says so."""
    for attempt in range(1, 3):
        watch, agent = await subscribed_watch(rig)
        pid = agent.process.process.pid
        agent.process.on_event_line = lambda line: (
            os.kill(pid, signal.SIGSTOP) if json.loads(line) == SHUTDOWN else None)
        agent.send({"type": "shutdown"})
        await agent.expect(SHUTDOWN)
        await watch.disconnect()
        if agent.process.process.poll() is not None:
            rig.note(f"attempt {attempt}: the agent exited before it could be stopped")
            continue
        await device_connected(rig, watch, False)
        os.kill(pid, signal.SIGCONT)
        await agent.expect(WATCH_DISCONNECTED, DISCONNECTED)
        assert await agent.wait_exit() == 0
        assert await agent.remaining_events() == []
        return
    raise AssertionError("the agent was never stopped inside its last 50 ms")
