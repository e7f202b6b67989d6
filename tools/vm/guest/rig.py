"""What a scenario works with inside the guest: the agent run the way a
controller runs it, virtual watches on the other controllers, and the stack.

    async def typical_exchange(rig):
        watch = rig.watch("hci1")
        agent = await rig.connect_watch_to_new_agent(watch)
        await watch.subscribe()
        await agent.expect({"type": "watch_connected"}, ...)
        ...
"""

import asyncio
import json
import re
import time
from pathlib import Path

import agent_pipes
from orbilatch_watch import Watch


# btvirt's first controller, hci0: the agent must use the adapter with the
# lowest object path.
AGENT_ADDRESS = "00:AA:01:00:00:00"
ADVERTISING = {"type": "ble_state_changed", "state": "advertising"}


def _compact(event):
    """An event as the agent must write it: compact JSON, slashes escaped,
    non-ASCII raw."""
    return json.dumps(event, separators=(",", ":"), ensure_ascii=False).replace("/", "\\/")


class AgentClosed(AssertionError):
    pass


class Agent:
    """The agent binary with pipes on its three streams. Waiting for its
    output never blocks the event loop, so the watches keep running."""

    def __init__(self, binary, log):
        self.log = log
        agent_pipes.AGENT = str(binary)
        self.process = agent_pipes.AgentProcess()
        self.last_event_at = None
        self._note("spawned")

    def _note(self, text):
        self.log(text)

    async def next_event(self, timeout=20.0):
        """The next event; last_event_at tells when the agent wrote it (to a
        few milliseconds: when the reader took it from the pipe), in seconds."""
        raw = await asyncio.to_thread(self._next_raw, timeout)
        self.last_event_at = raw.arrived_ns / 1e9
        text = raw.decode()
        self._note(f"out {text.rstrip()}")
        if not text.endswith("\n"):
            raise AssertionError(f"event line without a line feed: {text!r}")
        event = json.loads(text)
        if text[:-1] != _compact(event):
            raise AssertionError(f"event line not in compact form: {text!r}")
        return event

    def _next_raw(self, timeout):
        try:
            line = self.process.next_raw_line(timeout)
        except Exception:
            raise AssertionError(f"no event line within {timeout:.0f} s") from None
        if line is None:
            raise AgentClosed(f"the agent closed its standard output "
                              f"(exit status {self.process.process.poll()})")
        return line

    async def expect(self, *expected, timeout=20.0):
        """The next event lines are exactly these, in this order."""
        for event in expected:
            got = await self.next_event(timeout)
            if got != event:
                raise AssertionError(f"expected event {event}, got {got}")

    async def expect_diagnostic(self, pattern, timeout=20.0):
        line = await asyncio.to_thread(self.process.next_diagnostic, timeout)
        self._note(f"err {line}")
        if not re.fullmatch(pattern, line):
            raise AssertionError(f"expected a diagnostic matching {pattern!r}, got {line!r}")
        return line

    async def expect_quiet(self, within=2.0):
        """Nothing on standard output or standard error for a while."""
        await asyncio.sleep(within)
        for name, lines in (("stdout", self.process.stdout_lines), ("stderr", self.process.stderr_lines)):
            pending = [line for line in list(lines.queue) if line is not None]
            if pending:
                for line in pending:
                    self._note(f"{name} {line.decode(errors='replace').rstrip()}")
                raise AssertionError(f"unexpected output on {name}: {pending}")

    def send(self, *messages):
        """The messages as lines, handed over in one write: the agent reads them together."""
        lines = [json.dumps(message) for message in messages]
        for line in lines:
            self._note(f"in  {line}")
        self.process.send_line("\n".join(lines))

    async def wait_exit(self, timeout=10.0):
        status = await asyncio.to_thread(self.process.wait_exit, timeout)
        self._note(f"exited with status {status}")
        return status

    async def remaining_events(self):
        """After the exit: every event line not read yet."""
        events = []
        while True:
            try:
                events.append(await self.next_event(timeout=5))
            except AgentClosed:
                return events

    async def finish(self):
        """Ends the agent if it still runs and reads both streams to their
        end. Returns the diagnostic lines that nobody expected."""
        if self.process.is_running():
            self._note("killed")
        await asyncio.to_thread(self.process.kill)
        for line in filter(None, self.process.stdout_lines.queue):
            self._note(f"out (unread) {line.decode(errors='replace').rstrip()}")
        unexpected = [line.decode(errors="replace").rstrip("\n") for line in self.process.stderr_lines.queue if line]
        for line in unexpected:
            self._note(f"err (unexpected) {line}")
        return unexpected


class Rig:
    def __init__(self, stack, results_dir, scenario, agent_binary, bluez, mark, options=None):
        self.stack = stack
        # What the plan asks of this boot's scenarios, such as how long a benchmark runs.
        self.options = options or {}
        self.results_dir = Path(results_dir)
        self.scenario = scenario
        self.agent_binary = agent_binary
        self.bluez = bluez
        self.version = tuple(int(part) for part in bluez.split("."))
        self.mark = mark
        self.notes = []
        # Whatever has a finish(): the agents, and presenters with their agents.
        self.programs = []
        self.watches = []
        self.transcript = self.results_dir / f"{scenario}.log"
        self.tools = Path(__file__).resolve().parents[2]

    def log(self, source, text):
        line = f"{self.scenario} {source}: {text}"
        with open(self.transcript, "a", encoding="utf-8") as file:
            file.write(f"{time.monotonic():10.3f} {source}: {text}\n")
        self.mark(line)

    def note(self, text):
        """An observation worth reporting beyond pass or fail."""
        self.notes.append(text)
        self.log("note", text)

    def start_agent(self):
        agent = Agent(self.agent_binary, lambda text: self.log("agent", text))
        self.programs.append(agent)
        return agent

    def watch(self, adapter="hci1", looks_for=None):
        """A watch looking for the agent, or a central looking for the
        (name, service UUID) of another peripheral."""
        label = f"watch {adapter}" if looks_for is None else f"central {adapter}"
        target = {} if looks_for is None else {"name": looks_for[0], "service_uuid": looks_for[1]}
        watch = Watch(adapter=adapter, log=lambda text: self.log(label, text), **target)
        self.watches.append(watch)
        return watch

    async def connect_watch_to_new_agent(self, watch):
        """Starts the watch's scan, then the agent once the watch's adapter is
        discovering (an advertisement sent before that is never reported),
        and connects. Returns the agent; its "advertising" line is already
        checked."""
        holder = {}

        async def spawn():
            holder["agent"] = self.start_agent()

        await watch.connect(on_scanning=spawn)
        agent = holder["agent"]
        await agent.expect(ADVERTISING)
        assert watch.device.address == AGENT_ADDRESS, f"the agent is on {watch.device.address}, not hci0"
        return agent

    async def cleanup(self):
        """Disconnects the watches and ends the programs; returns the
        diagnostic lines the scenario did not expect."""
        for watch in self.watches:
            try:
                await asyncio.wait_for(watch.disconnect(), 15)
            except Exception as error:
                self.log("cleanup", f"watch disconnect: {error!r}")
        unexpected = [line for program in self.programs for line in await program.finish()]
        await asyncio.to_thread(forget_devices)
        return unexpected


def forget_devices():
    """Removes every device every adapter knows, bonds included, so the next
    scenario starts from a clean stack."""
    import dbus
    try:
        bus = dbus.SystemBus()
        manager = dbus.Interface(bus.get_object("org.bluez", "/"), "org.freedesktop.DBus.ObjectManager")
        for path, interfaces in manager.GetManagedObjects().items():
            device = interfaces.get("org.bluez.Device1")
            if device is None:
                continue
            adapter = dbus.Interface(bus.get_object("org.bluez", device["Adapter"]), "org.bluez.Adapter1")
            try:
                adapter.RemoveDevice(path)
            except dbus.exceptions.DBusException:
                pass
        bus.close()
    except dbus.exceptions.DBusException:
        pass


# -- helpers on bluetoothd's D-Bus API -----------------------------------

from dbus_fast import BusType  # noqa: E402
from dbus_fast.aio import MessageBus  # noqa: E402
from dbus_fast.service import PropertyAccess, ServiceInterface, dbus_property, method  # noqa: E402


class _Advertisement(ServiceInterface):
    def __init__(self, name, service_uuid):
        super().__init__("org.bluez.LEAdvertisement1")
        self.local_name = name  # not "name": that is the interface's
        self.service_uuid = service_uuid

    @method()
    def Release(self):
        pass

    @dbus_property(access=PropertyAccess.READ)
    def Type(self) -> "s":
        return "peripheral"

    @dbus_property(access=PropertyAccess.READ)
    def LocalName(self) -> "s":
        return self.local_name

    @dbus_property(access=PropertyAccess.READ)
    def ServiceUUIDs(self) -> "as":
        return [self.service_uuid]

    @dbus_property(access=PropertyAccess.READ)
    def Discoverable(self) -> "b":
        return True


class _PairingAgent(ServiceInterface):
    """Accepts every request: a NoInputNoOutput desktop pairs Just Works."""

    def __init__(self):
        super().__init__("org.bluez.Agent1")

    @method()
    def Release(self):
        pass

    @method()
    def RequestConfirmation(self, device: "o", passkey: "u"):
        pass

    @method()
    def RequestAuthorization(self, device: "o"):
        pass

    @method()
    def AuthorizeService(self, device: "o", uuid: "s"):
        pass

    @method()
    def Cancel(self):
        pass


async def _interface(bus, path, name):
    introspection = await bus.introspect("org.bluez", path)
    return bus.get_proxy_object("org.bluez", path, introspection).get_interface(name)


async def advertise_dummy(adapter, name, service_uuid):
    """A connectable advertisement on a controller. Returns the bus holding
    it; disconnecting the bus withdraws it."""
    bus = await MessageBus(bus_type=BusType.SYSTEM).connect()
    path = "/orbilatch/test/dummy"
    bus.export(path, _Advertisement(name, service_uuid))
    manager = await _interface(bus, f"/org/bluez/{adapter}", "org.bluez.LEAdvertisingManager1")
    await manager.call_register_advertisement(path, {})
    return bus


async def register_pairing_agent():
    """The default pairing agent of bluetoothd, as a desktop session has one.
    Returns the bus holding it."""
    bus = await MessageBus(bus_type=BusType.SYSTEM).connect()
    path = "/orbilatch/test/agent"
    bus.export(path, _PairingAgent())
    manager = await _interface(bus, "/org/bluez", "org.bluez.AgentManager1")
    await manager.call_register_agent(path, "NoInputNoOutput")
    await manager.call_request_default_agent(path)
    return bus
