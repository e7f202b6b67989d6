"""A virtual watch: a BLE central that drives an OrbiLatch agent the way the
wrist-worn remote does, through BlueZ and bleak.

As a library (the system tests use it):

    watch = Watch(adapter="hci1")
    await watch.connect()              # scan for "OrbiLatch", connect, resolve services
    await watch.subscribe()            # notifications of the acknowledgement characteristic
    att = await watch.write(b"OL2|C|42|N")    # 0 for success, else the ATT error code
    frame = await watch.next_notification(10)  # b"OL2|A|42|E"
    await watch.disconnect()

From the command line see `orbilatch-watch --help`.
"""

import argparse
import asyncio
import itertools
import json
import re
import sys
import time

from bleak import BleakClient, BleakScanner
from bleak.exc import BleakDBusError, BleakError

SERVICE_UUID = "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0001"
COMMAND_UUID = "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0002"
ACKNOWLEDGEMENT_UUID = "5e2a03f1-6c4d-4b8f-9f4e-2e7a7c9a0003"
AGENT_NAME = "OrbiLatch"

# Command words a person types, and the letters the frames carry.
COMMANDS = {"next": "N", "previous": "P", "start": "S", "end": "X", "black": "B"}
VERSION_TAGS = {1: "PP1", 2: "OL2"}

ATT_NAMES = {
    0x00: "success", 0x02: "read not permitted", 0x03: "write not permitted",
    0x05: "insufficient authentication", 0x06: "request not supported", 0x07: "invalid offset",
    0x08: "insufficient authorization", 0x0D: "invalid attribute value length",
    0x0E: "unlikely error", 0x11: "insufficient resources",
}

# How bluetoothd's GATT client reports an ATT error response to a write.
_ATT_BY_DBUS_ERROR = {
    ("org.bluez.Error.InvalidArguments", "Invalid Length"): 0x0D,
    ("org.bluez.Error.InvalidArguments", "Invalid offset"): 0x07,
    ("org.bluez.Error.NotPermitted", "Write not permitted"): 0x03,
    ("org.bluez.Error.NotPermitted", "Read not permitted"): 0x02,
    ("org.bluez.Error.NotPermitted", "Not paired"): 0x05,
    ("org.bluez.Error.NotAuthorized", None): 0x08,
    ("org.bluez.Error.NotSupported", None): 0x06,
}


def command_frame(command, command_id, version=2):
    """The command frame for a command word ("next") or letter ("N")."""
    letter = COMMANDS.get(command, command)
    return f"{VERSION_TAGS[version]}|C|{command_id}|{letter}".encode()


def att_name(code):
    return ATT_NAMES.get(code, "ATT error")


def att_code_of(error):
    """The ATT error code a write's D-Bus error stands for, or None when the
    write never got an ATT answer (not connected, timed out, ...)."""
    if not isinstance(error, BleakDBusError):
        return None
    name = error.dbus_error
    details = error.args[1] if len(error.args) > 1 else ""
    match = re.search(r"ATT error: 0x([0-9a-fA-F]{2})", details or "")
    if name == "org.bluez.Error.Failed" and match:
        return int(match.group(1), 16)
    for (known, text), code in _ATT_BY_DBUS_ERROR.items():
        if name == known and (text is None or details == text):
            return code
    return None


def _use_services_resolved_only():
    """bleak waits for Device1.Connected or ServicesResolved after Connect().
    When the ATT link is up before the kernel's "Device Connected" event,
    bluetoothd 5.66 never sets Connected, and bleak gives up at once although
    the services resolve moments later. Wait for ServicesResolved alone; the
    connect timeout still bounds it."""
    try:
        from bleak.backends.bluezdbus.manager import BlueZManager
    except ImportError:
        return
    if getattr(BlueZManager, "_orbilatch_patched", False):
        return

    async def wait_for_services(self, device_path):
        await self._wait_condition(device_path, "ServicesResolved", True)

    BlueZManager._wait_for_services_discovery = wait_for_services
    BlueZManager._orbilatch_patched = True


_use_services_resolved_only()


class WatchError(Exception):
    pass


class Watch:
    """One central on one adapter. `log` receives a line for everything the
    watch does and sees; `events` keeps them as dicts for tests."""

    def __init__(self, adapter="hci1", name=AGENT_NAME, service_uuid=SERVICE_UUID, log=None):
        self.adapter = adapter
        self.name = name
        self.service_uuid = service_uuid.lower()
        self.log = log or (lambda line: None)
        self.client = None
        self.device = None
        self.notifications = asyncio.Queue()
        self.events = []

    def _record(self, kind, **fields):
        event = {"kind": kind, **fields}
        self.events.append(event)
        self.log(_describe(event))

    # -- finding and connecting ----------------------------------------

    async def find(self, timeout=60.0, rescan_every=3.0, on_scanning=None):
        """Scans until a device advertising both the name and the service is
        seen (the name travels in the scan response, which not every scan
        gets). The scan is restarted every few seconds: an advertisement that
        was missed is not always repeated (an emulated controller reports it
        once, when scanning or advertising is switched on), but a new scan
        brings it again.

        on_scanning, if given, is awaited once the adapter is discovering."""
        found = asyncio.Event()
        seen = {}

        def detected(device, advertisement):
            name = advertisement.local_name or device.name
            if name == self.name and self.service_uuid in [u.lower() for u in advertisement.service_uuids]:
                seen["device"] = device
                found.set()

        deadline = time.monotonic() + timeout
        scanning_reported = False
        while True:
            scanner = BleakScanner(detection_callback=detected, adapter=self.adapter)
            await scanner.start()
            try:
                if not scanning_reported:
                    self._record("scanning", adapter=self.adapter)
                    await self._wait_discovering()
                    scanning_reported = True
                    if on_scanning:
                        await on_scanning()
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise WatchError(f"no device named {self.name!r} with the service {self.service_uuid} "
                                     f"found on {self.adapter}")
                try:
                    await asyncio.wait_for(found.wait(), min(rescan_every, remaining))
                except asyncio.TimeoutError:
                    continue
            finally:
                await scanner.stop()
            self.device = seen["device"]
            self._record("found", address=self.device.address)
            return self.device

    async def _wait_discovering(self, timeout=20.0):
        """The kernel drops advertising reports that arrive before its
        discovery is set up: wait until the adapter says it is discovering."""
        from dbus_fast import BusType, Message
        from dbus_fast.aio import MessageBus
        bus = await MessageBus(bus_type=BusType.SYSTEM).connect()
        try:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                reply = await bus.call(Message(
                    destination="org.bluez", path=f"/org/bluez/{self.adapter}",
                    interface="org.freedesktop.DBus.Properties", member="Get", signature="ss",
                    body=["org.bluez.Adapter1", "Discovering"]))
                if reply.body and reply.body[0].value:
                    return
                await asyncio.sleep(0.1)
        finally:
            bus.disconnect()

    async def connect(self, timeout=60.0, on_scanning=None):
        if self.device is None:
            await self.find(timeout, on_scanning=on_scanning)
        self.client = BleakClient(self.device, adapter=self.adapter, timeout=timeout,
                                  disconnected_callback=self._disconnected)
        await self.client.connect(timeout=timeout)
        self._record("connected", address=self.device.address)

    def service_characteristics(self):
        """The agent's service as the watch sees it: each characteristic's
        UUID with its sorted properties."""
        service = self.client.services.get_service(SERVICE_UUID)
        if service is None:
            raise WatchError("the agent's service is missing")
        return {c.uuid.lower(): sorted(c.properties) for c in service.characteristics}

    def _disconnected(self, client):
        self._record("link_lost")

    async def pair(self):
        """Pairs (and so bonds) with the agent's machine. Its side needs a
        pairing agent registered with bluetoothd, as a desktop always has."""
        await self.client.pair()
        self._record("paired")

    async def subscribe(self):
        await self.client.start_notify(ACKNOWLEDGEMENT_UUID, self._notified)
        self._record("subscribed")

    def _notified(self, _characteristic, data):
        frame = bytes(data)
        self._record("notification", frame=frame.decode(errors="replace"))
        self.notifications.put_nowait(frame)

    async def unsubscribe(self):
        await self.client.stop_notify(ACKNOWLEDGEMENT_UUID)
        self._record("unsubscribed")

    async def disconnect(self):
        """Drops the link. bleak may wait in vain for a Connected=false that
        bluetoothd never sends (see above), or raise EOFError on newer BlueZ
        although the link goes down: both are taken as done once the link is
        gone."""
        if self.client is None:
            return
        client, self.client = self.client, None
        try:
            await client.disconnect()
        except (asyncio.TimeoutError, EOFError, BleakError):
            pass
        self._record("disconnected")

    def forget(self):
        """Drops the connection without a word to bluetoothd: for when
        bluetoothd itself went away and took the connection with it."""
        self.client = None
        self.device = None
        self._record("forgotten")

    # -- commands and acknowledgements ----------------------------------

    async def write(self, frame, response=True):
        """Writes one frame, with response unless told. Returns the ATT
        result: 0 for success (all a write without response ever gets), else
        the error code. A write that got no ATT answer raises WatchError."""
        frame = bytes(frame)
        try:
            await self.client.write_gatt_char(COMMAND_UUID, frame, response=response)
        except BleakError as error:
            code = att_code_of(error)
            if code is None:
                self._record("write_failed", frame=frame.decode(errors="replace"), error=str(error))
                raise WatchError(f"write of {frame!r} failed: {error}") from error
            self._record("write", frame=frame.decode(errors="replace"), att=code)
            return code
        self._record("write", frame=frame.decode(errors="replace"), att=0)
        return 0

    async def next_notification(self, timeout=10.0):
        try:
            return await asyncio.wait_for(self.notifications.get(), timeout)
        except asyncio.TimeoutError:
            raise WatchError(f"no notification within {timeout:.0f} s") from None

    async def no_notification(self, within):
        """Asserts that nothing is notified for a while."""
        try:
            frame = await asyncio.wait_for(self.notifications.get(), within)
        except asyncio.TimeoutError:
            return
        raise WatchError(f"unexpected notification {frame!r}")


def _describe(event):
    kind = event["kind"]
    if kind == "write":
        att = event["att"]
        return f"write {event['frame']} -> ATT 0x{att:02X} ({att_name(att)})"
    if kind == "notification":
        return f"notification {event['frame']}"
    details = " ".join(f"{key}={value}" for key, value in event.items() if key != "kind")
    return f"{kind} {details}".rstrip()


# -- command line -------------------------------------------------------

def _parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="orbilatch-watch",
        description="Act as the watch: find the OrbiLatch agent, subscribe to its "
                    "acknowledgements and send presentation commands.",
        epilog="Commands: next, previous, start, end, black (black screen), or a raw frame "
               "such as 'OL2|C|42|N' (quote it). Example: orbilatch-watch --adapter hci1 start next next end")
    parser.add_argument("commands", nargs="+", metavar="COMMAND")
    parser.add_argument("--adapter", default="hci0", help="local Bluetooth adapter (default hci0)")
    parser.add_argument("--protocol", type=int, choices=(1, 2), default=2,
                        help="frame protocol version (default 2)")
    parser.add_argument("--id", type=int, default=None,
                        help="first command id (default: derived from the clock)")
    parser.add_argument("--wait", type=float, default=5.0,
                        help="seconds to wait for each acknowledgement (default 5)")
    parser.add_argument("--interval", type=float, default=0.0,
                        help="pause between commands, in seconds")
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds to find and connect to the agent (default 60)")
    parser.add_argument("--json", action="store_true",
                        help="print one JSON object per line instead of text")
    args = parser.parse_args(argv)
    for command in args.commands:
        if command not in COMMANDS and "|" not in command:
            parser.error(f"unknown command {command!r}")
    return args


async def _run(args):
    if args.json:
        def log(line):
            pass
    else:
        def log(line):
            print(line, flush=True)
    watch = Watch(adapter=args.adapter, log=log)
    if args.json:
        original = watch._record

        def record(kind, **fields):
            original(kind, **fields)
            print(json.dumps(watch.events[-1]), flush=True)
        watch._record = record
    first_id = args.id if args.id is not None else int(time.time()) % 100000
    ids = itertools.count(first_id)
    failures = 0
    try:
        await watch.connect(timeout=args.timeout)
        await watch.subscribe()
        for number, command in enumerate(args.commands):
            if number and args.interval:
                await asyncio.sleep(args.interval)
            frame = command.encode() if "|" in command else command_frame(command, next(ids), args.protocol)
            att = await watch.write(frame)
            if att != 0:
                failures += 1
                continue
            if args.wait > 0:
                try:
                    await watch.next_notification(args.wait)
                except WatchError:
                    watch._record("no_acknowledgement", frame=frame.decode(errors="replace"))
                    failures += 1
    finally:
        await watch.disconnect()
    return 1 if failures else 0


def main(argv=None):
    args = _parse_args(sys.argv[1:] if argv is None else argv)
    try:
        return asyncio.run(_run(args))
    except (WatchError, BleakError, asyncio.TimeoutError) as error:
        print(f"orbilatch-watch: {error or type(error).__name__}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
