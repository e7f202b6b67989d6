"""A stand-in for bluetoothd: owns org.bluez on a private bus and behaves, towards
a GATT server application, as bluetoothd 5.66 and 5.82 were seen to behave.

Everything runs on the calling thread. D-Bus traffic is dispatched only while
the test waits (pump, pump_until, or any wait of the objects below), so a test
reads as plain steps and nothing races behind its back.

Main pieces:
  DBusDaemon   a private dbus-daemon in a temporary directory
  FakeBluez    the org.bluez owner: adapters, registrations, leaving and coming back
  Adapter      one /org/bluez/hciN with Adapter1, GattManager1, LEAdvertisingManager1
  Central      a remote device (the watch) that connects, subscribes and writes
  ForeignCaller  a bus connection that is not org.bluez, calling the application
"""

import collections
import os
import subprocess
import time
from dataclasses import dataclass, field

import dbus
import dbus.bus
import dbus.exceptions
import dbus.mainloop.glib
import dbus.service
import dbus.types
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)

DEFAULT_TIMEOUT = 10.0

BLUEZ = "org.bluez"
ADAPTER = "org.bluez.Adapter1"
DEVICE = "org.bluez.Device1"
GATT_MANAGER = "org.bluez.GattManager1"
ADVERTISING_MANAGER = "org.bluez.LEAdvertisingManager1"
GATT_SERVICE = "org.bluez.GattService1"
GATT_CHARACTERISTIC = "org.bluez.GattCharacteristic1"
GATT_DESCRIPTOR = "org.bluez.GattDescriptor1"
ADVERTISEMENT = "org.bluez.LEAdvertisement1"
PROPERTIES = "org.freedesktop.DBus.Properties"
OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager"
INTROSPECTABLE = "org.freedesktop.DBus.Introspectable"

SERVICE_UUID = "5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001"
COMMAND_UUID = "5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0002"
ACKNOWLEDGEMENT_UUID = "5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003"

LE_MTU = 517
# bluetoothd gives an application this long to answer a write before it
# answers the central itself.
WRITE_TIMEOUT = 5.0

# Errors bluetoothd answers at once, before it looks at the caller's objects.
_IMMEDIATE_ERRORS = {"org.bluez.Error.AlreadyExists", "org.bluez.Error.InvalidArguments",
                     "org.bluez.Error.NotPermitted"}

_CONTEXT = GLib.MainContext.default()


# --------------------------------------------------------------------------
# Driving the main context

def pump(block=0.0):
    """Dispatch everything that is ready; wait up to `block` seconds for more."""
    if block > 0:
        wake = GLib.timeout_source_new(max(1, int(block * 1000)))
        wake.set_callback(lambda *_: False)
        wake.attach(_CONTEXT)
        _CONTEXT.iteration(True)
        wake.destroy()
    while _CONTEXT.pending():
        _CONTEXT.iteration(False)


def pump_until(condition, timeout=DEFAULT_TIMEOUT, what="a condition"):
    """Dispatch D-Bus traffic until condition() is truthy; return its value."""
    deadline = time.monotonic() + timeout
    while True:
        pump()
        result = condition()
        if result:
            return result
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        pump(min(remaining, 0.01))


def pump_for(seconds):
    """Keep dispatching for a while; for checks that something does not happen."""
    deadline = time.monotonic() + seconds
    while (remaining := deadline - time.monotonic()) > 0:
        pump(min(remaining, 0.01))


# --------------------------------------------------------------------------
# Values

class DBusError(str):
    """The name of a D-Bus error reply; compares equal to the name.

    `message` is the error's text; `att_code` the ATT error a central would
    see for it when bluetoothd relays it (5.66 and 5.82 map alike)."""

    def __new__(cls, name, message=""):
        self = super().__new__(cls, name)
        self.message = message
        return self

    def __repr__(self):
        return f"DBusError({str(self)!r}, {self.message!r})"

    @property
    def att_code(self):
        name = str(self)
        if name == "org.bluez.Error.Failed":
            try:
                code = int(self.message, 0)
            except ValueError:
                return 0x80
            return code if 0x80 <= code <= 0x9F else 0x0E
        return {
            "org.bluez.Error.NotSupported": 0x06,
            "org.bluez.Error.NotAuthorized": 0x08,
            "org.bluez.Error.InvalidValueLength": 0x0D,
            "org.bluez.Error.InvalidOffset": 0x07,
            "org.bluez.Error.InProgress": 0xFE,
            "org.bluez.Error.ImproperlyConfigured": 0xFD,
            "org.bluez.Error.NotPermitted": 0x03,
        }.get(name, 0x0E)

    @classmethod
    def from_exception(cls, error):
        return cls(error.get_dbus_name() or "", error.get_dbus_message() or "")


def _bluez_error(name, message):
    return dbus.exceptions.DBusException(message, name=name)


def _plain(value):
    """dbus-python values as ordinary Python values."""
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Dictionary, dict)):
        return {_plain(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, dbus.ObjectPath):
        return str(value)
    if isinstance(value, dbus.String):
        return str(value)
    if isinstance(value, int):
        return int(value)
    return value


def _strings(items):
    return dbus.Array([dbus.String(i) for i in items], signature="s")


def _options(**values):
    return dbus.Dictionary(values, signature="sv")


def _same_uuid(a, b):
    return str(a).lower() == str(b).lower()


# --------------------------------------------------------------------------
# The private bus

_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>orbilatch-test</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
{extra}
  </policy>
</busconfig>
"""

# A bus whose policy forbids calling bluetoothd, as a locked-down system bus can.
DENY_CALLS_TO_BLUEZ = '    <deny send_destination="org.bluez" send_type="method_call"/>'



class DBusDaemon:
    """A dbus-daemon of our own, listening on a socket in `directory`.
    `policy`: extra rules for the default context."""

    def __init__(self, directory, policy=""):
        config = os.path.join(directory, "bus.conf")
        with open(config, "w") as f:
            f.write(_BUS_CONFIG.format(socket=os.path.join(directory, "bus"), extra=policy))
        self.log_path = os.path.join(directory, "bus.log")
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address"],
                stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, stderr=log)
        line = self.process.stdout.readline().decode().strip()
        if not line:
            self.stop()
            raise RuntimeError("dbus-daemon did not start")
        self.address = line

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


# --------------------------------------------------------------------------
# Exported objects

class _Exported(dbus.service.Object):
    """An object of ours with properties on one or more interfaces."""

    def __init__(self, bluez, path, interfaces):
        super().__init__(bluez.conn, path)
        self.bluez = bluez
        self.path = path
        self.interfaces = {name: dict(props) for name, props in interfaces.items()}

    def managed(self):
        result = {INTROSPECTABLE: dbus.Dictionary({}, signature="sv"),
                  PROPERTIES: dbus.Dictionary({}, signature="sv")}
        for name, props in self.interfaces.items():
            result[name] = dbus.Dictionary(props, signature="sv")
        return result

    def update(self, interface, **changes):
        self.interfaces[interface].update(changes)
        self.PropertiesChanged(interface, dbus.Dictionary(changes, signature="sv"),
                               dbus.Array([], signature="s"))

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        try:
            return self.interfaces[interface][name]
        except KeyError:
            raise _bluez_error("org.freedesktop.DBus.Error.InvalidArgs", "No such property " + name)

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface not in self.interfaces:
            raise _bluez_error("org.freedesktop.DBus.Error.InvalidArgs", "No such interface " + interface)
        return dbus.Dictionary(self.interfaces[interface], signature="sv")

    @dbus.service.method(PROPERTIES, in_signature="ssv", out_signature="")
    def Set(self, interface, name, value):
        raise _bluez_error("org.bluez.Error.NotSupported", "Operation is not supported")

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class _Root(dbus.service.Object):
    def __init__(self, bluez):
        super().__init__(bluez.conn, "/")
        self.bluez = bluez

    @dbus.service.method(OBJECT_MANAGER, in_signature="", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {path: obj.managed() for path, obj in self.bluez.objects.items()}

    @dbus.service.signal(OBJECT_MANAGER, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECT_MANAGER, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class _AdapterObject(_Exported):
    def __init__(self, adapter, interfaces):
        super().__init__(adapter.bluez, adapter.path, interfaces)
        self.adapter = adapter

    @dbus.service.method(PROPERTIES, in_signature="ssv", out_signature="")
    def Set(self, interface, name, value):
        if interface == ADAPTER and name == "Powered":
            self.adapter.power_on() if value else self.adapter.power_off()
            return
        raise _bluez_error("org.bluez.Error.NotSupported", "Operation is not supported")

    @dbus.service.method(GATT_MANAGER, in_signature="oa{sv}", out_signature="",
                         sender_keyword="sender", async_callbacks=("ok", "fail"))
    def RegisterApplication(self, path, options, sender, ok, fail):
        self.adapter._register_application(sender, str(path), ok, fail)

    @dbus.service.method(GATT_MANAGER, in_signature="o", out_signature="", sender_keyword="sender")
    def UnregisterApplication(self, path, sender):
        self.adapter._unregister_application(sender, str(path))

    @dbus.service.method(ADVERTISING_MANAGER, in_signature="oa{sv}", out_signature="",
                         sender_keyword="sender", async_callbacks=("ok", "fail"))
    def RegisterAdvertisement(self, path, options, sender, ok, fail):
        self._require_advertising_manager()
        self.adapter._register_advertisement(sender, str(path), ok, fail)

    @dbus.service.method(ADVERTISING_MANAGER, in_signature="o", out_signature="", sender_keyword="sender")
    def UnregisterAdvertisement(self, path, sender):
        self._require_advertising_manager()
        self.adapter._unregister_advertisement(sender, str(path))

    def _require_advertising_manager(self):
        if ADVERTISING_MANAGER not in self.interfaces:
            raise _bluez_error("org.freedesktop.DBus.Error.UnknownMethod",
                               f"Unknown method or interface {ADVERTISING_MANAGER}")


# --------------------------------------------------------------------------
# What bluetoothd learnt from the application

@dataclass
class GattCharacteristic:
    path: str
    uuid: str
    flags: list
    notify_acquired: bool  # the application offers AcquireNotify
    service_path: str
    descriptors: list = field(default_factory=list)
    # Devices whose CCC is on.
    subscribers: list = field(default_factory=list)
    # bluetoothd's ends of acquired notification sockets: keyed by the
    # central (5.82) or by None for the one shared socket (5.66).
    links: dict = field(default_factory=dict)
    acquiring: set = field(default_factory=set)


@dataclass
class GattDescriptor:
    path: str
    uuid: str
    flags: list


@dataclass
class GattService:
    path: str
    uuid: str
    primary: bool
    characteristics: list = field(default_factory=list)

    def characteristic(self, uuid):
        return next((c for c in self.characteristics if _same_uuid(c.uuid, uuid)), None)


@dataclass
class Application:
    owner: str
    path: str
    services: list = field(default_factory=list)

    def service(self, uuid=SERVICE_UUID):
        return next((s for s in self.services if _same_uuid(s.uuid, uuid)), None)

    def characteristic(self, uuid):
        for service in self.services:
            found = service.characteristic(uuid)
            if found:
                return found
        return None


@dataclass
class Advertisement:
    owner: str
    path: str
    properties: dict
    properties_changed: int = 0

    @property
    def type(self):
        return self.properties.get("Type")

    @property
    def service_uuids(self):
        return self.properties.get("ServiceUUIDs", [])

    @property
    def local_name(self):
        return self.properties.get("LocalName")


_CHARACTERISTIC_FLAGS = {
    "broadcast", "read", "write-without-response", "write", "notify", "indicate",
    "authenticated-signed-writes", "extended-properties", "reliable-write", "writable-auxiliaries",
    "encrypt-read", "encrypt-write", "encrypt-authenticated-read", "encrypt-authenticated-write",
    "secure-read", "secure-write", "authorize", "encrypt-notify", "encrypt-authenticated-notify",
    "secure-notify", "encrypt-indicate", "encrypt-authenticated-indicate", "secure-indicate"}


def _parse_application(owner, path, objects):
    """The application as bluetoothd reads it from GetManagedObjects, or the
    error message bluetoothd would answer."""
    objects = _plain(objects)
    if not objects:
        return "No object received"
    app = Application(owner, path)
    failed = False
    for obj_path, interfaces in sorted(objects.items()):
        props = interfaces.get(GATT_SERVICE)
        if props is None:
            continue
        if not isinstance(props.get("UUID"), str) or not isinstance(props.get("Primary"), bool):
            failed = True
            continue
        app.services.append(GattService(obj_path, props["UUID"], props["Primary"]))
    for obj_path, interfaces in sorted(objects.items()):
        props = interfaces.get(GATT_CHARACTERISTIC)
        if props is None:
            continue
        service = next((s for s in app.services if s.path == props.get("Service")), None)
        flags = props.get("Flags")
        if (service is None or not isinstance(props.get("UUID"), str) or not isinstance(flags, list)
                or not flags or any(f not in _CHARACTERISTIC_FLAGS for f in flags)):
            failed = True
            continue
        service.characteristics.append(GattCharacteristic(
            obj_path, props["UUID"], flags, "NotifyAcquired" in props, service.path))
    for obj_path, interfaces in sorted(objects.items()):
        props = interfaces.get(GATT_DESCRIPTOR)
        if props is None:
            continue
        owner_chr = next((c for s in app.services for c in s.characteristics
                          if c.path == props.get("Characteristic")), None)
        if owner_chr is None or not isinstance(props.get("UUID"), str):
            failed = True
            continue
        owner_chr.descriptors.append(GattDescriptor(obj_path, props["UUID"], props.get("Flags", [])))
    if failed or not app.services:
        return "No valid service object found"
    return app


class _NotifyLink:
    """bluetoothd's end of a socket the application handed over in AcquireNotify."""

    def __init__(self, characteristic, fd, mtu, central):
        self.characteristic = characteristic
        self.fd = fd
        self.mtu = mtu
        self.central = central  # None: shared by every subscriber (5.66)
        self.open = True
        self.hung_up_by_application = False
        self._source = GLib.unix_fd_add_full(
            GLib.PRIORITY_DEFAULT, fd, GLib.IOCondition.IN | GLib.IOCondition.HUP | GLib.IOCondition.ERR,
            self._ready)

    def _ready(self, fd, condition):
        try:
            data = os.read(fd, 4096)
        except BlockingIOError:
            return True
        except OSError:
            data = b""
        if data:
            receivers = [self.central] if self.central else list(self.characteristic.subscribers)
            for central in receivers:
                central._deliver(data, "fd")
            return True
        # Empty read: the application closed its end.
        self.hung_up_by_application = True
        self._source = None
        self._close_fd()
        for key, link in list(self.characteristic.links.items()):
            if link is self:
                del self.characteristic.links[key]
        return False

    def pause(self):
        """Stop reading, as a bluetoothd that cannot keep up: the
        application's end fills until its writes fail with EAGAIN."""
        if self._source is not None:
            GLib.source_remove(self._source)
            self._source = None

    def resume(self):
        if self.open and self._source is None:
            self._source = GLib.unix_fd_add_full(
                GLib.PRIORITY_DEFAULT, self.fd, GLib.IOCondition.IN | GLib.IOCondition.HUP | GLib.IOCondition.ERR,
                self._ready)

    def close(self):
        """bluetoothd lets go of the socket: the application sees a hang-up."""
        if self._source is not None:
            GLib.source_remove(self._source)
            self._source = None
        self._close_fd()

    def _close_fd(self):
        if self.open:
            self.open = False
            os.close(self.fd)


# --------------------------------------------------------------------------
# bluetoothd

class FakeBluez:
    """The owner of org.bluez on the private bus at `bus_address`.

    version "5.82": one AcquireNotify per subscribing device, data on a
    device's socket reaches only that device, a bonded device's socket hangs up
    when it disconnects. version "5.66": only the first subscriber triggers
    AcquireNotify, every subscriber receives what the one socket carries, and a
    bonded device keeps it across a disconnect."""

    def __init__(self, bus_address, version="5.82"):
        if version not in ("5.66", "5.82"):
            raise ValueError(version)
        self.bus_address = bus_address
        self.version = version
        self.conn = None
        self.root = None
        self.objects = {}
        self.adapters = {}
        self._client_watches = {}
        self._generation = 0

    @property
    def per_device_notify(self):
        return self.version != "5.66"

    @property
    def running(self):
        return self.conn is not None

    # Life on the bus ------------------------------------------------------

    def start(self, adapters=("hci0",), order="objects_first"):
        """Come onto the bus with fresh objects.

        adapters: names, or dicts of add_adapter's arguments.
        order "objects_first": every object exists before org.bluez is owned.
        order "name_first": own org.bluez first, then add the adapters one by
        one, LEAdvertisingManager1 a moment after each, as bluetoothd starts."""
        if self.conn is not None:
            raise RuntimeError("already on the bus")
        self._generation += 1
        self.conn = dbus.bus.BusConnection(self.bus_address)
        self.root = _Root(self)
        self.objects = {}
        self.adapters = {}
        self._client_watches = {}
        self._export("/org/bluez", {
            "org.bluez.AgentManager1": {},
            "org.bluez.ProfileManager1": {},
        })
        self.conn.add_signal_receiver(
            self._client_properties_changed, signal_name="PropertiesChanged", dbus_interface=PROPERTIES,
            path_keyword="path", sender_keyword="sender")
        self.conn.add_signal_receiver(
            self._client_interfaces_removed, signal_name="InterfacesRemoved", dbus_interface=OBJECT_MANAGER,
            path_keyword="path", sender_keyword="sender")
        adapter_args = [a if isinstance(a, dict) else {"name": a} for a in adapters]
        if order == "objects_first":
            for args in adapter_args:
                self.add_adapter(**{"advertising_manager": True, **args})
            self._own_name()
        elif order == "name_first":
            self._own_name()
            for args in adapter_args:
                self.add_adapter(**args)
        else:
            raise ValueError(order)
        return self

    def _own_name(self):
        reply = self.conn.request_name(BLUEZ, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
        if reply != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
            raise RuntimeError("could not own org.bluez")

    def leave(self, hangup_first=True):
        """Leave the bus as a dying bluetoothd does: every object and
        registration gone. With hangup_first the notification sockets close
        just before the connection drops, as was seen most often."""
        if self.conn is None:
            return
        links = [link for adapter in self.adapters.values() for link in adapter._all_links()]
        if hangup_first:
            for link in links:
                link.close()
        self._generation += 1
        for adapter in self.adapters.values():
            adapter._gone()
        for obj in list(self.objects.values()) + [self.root]:
            obj.remove_from_connection()
        conn, self.conn = self.conn, None
        conn.close()
        if not hangup_first:
            for link in links:
                link.close()
        self.objects = {}
        self.adapters = {}
        self.root = None
        pump()

    # Adapters ----------------------------------------------------------------

    def add_adapter(self, name="hci0", address=None, powered=True, roles=("central", "peripheral"),
                    advertising_manager="later", max_advertisements=4):
        """A new adapter. advertising_manager: True (at once), "later" (a moment
        after Adapter1, as bluetoothd does) or False (add_advertising_manager())."""
        if name in self.adapters:
            raise ValueError(f"{name} exists")
        index = int(name[3:]) if name.startswith("hci") else 0
        adapter = Adapter(self, name, address or f"00:AA:01:{index:02X}:00:{index:02X}", powered, roles,
                          max_advertisements)
        self.adapters[name] = adapter
        adapter._appear(advertising_manager)
        return adapter

    def remove_adapter(self, name="hci0"):
        self.adapters.pop(name)._remove()

    def adapter(self, name="hci0"):
        return self.adapters[name]

    def foreign_caller(self):
        return ForeignCaller(self)

    # Plumbing -------------------------------------------------------------------

    def _export(self, path, interfaces):
        obj = _Exported(self, path, interfaces)
        self.objects[path] = obj
        return obj

    def _announce(self, obj, names=None):
        managed = obj.managed()
        if names is not None:
            managed = {n: v for n, v in managed.items() if n in names}
        self.root.InterfacesAdded(dbus.ObjectPath(obj.path), managed)

    def _unexport(self, path):
        obj = self.objects.pop(path)
        names = list(obj.managed().keys())
        self.root.InterfacesRemoved(dbus.ObjectPath(path), _strings(names))
        obj.remove_from_connection()

    def _call(self, destination, path, interface, method, signature, args, on_reply, on_error,
              timeout=25.0):
        """An asynchronous call to an application; stale answers (from before
        we left the bus) are dropped."""
        generation = self._generation

        def reply(*values):
            if generation == self._generation:
                on_reply(*values)
            else:
                for value in values:
                    if isinstance(value, dbus.types.UnixFd):
                        os.close(value.take())

        def error(exception):
            if generation == self._generation:
                on_error(DBusError.from_exception(exception))

        self.conn.call_async(destination, path, interface, method, signature, args, reply, error,
                             timeout=timeout)

    def client_on_bus(self, owner):
        """Whether a registered client is still on the bus, as far as the
        messages received so far tell."""
        return owner in self._client_watches

    def _watch_client(self, owner):
        """Like bluetoothd, forget a client's registrations when it leaves the bus."""
        if owner in self._client_watches:
            return

        def owner_changed(new_owner):
            if new_owner == "" and self._client_watches.pop(owner, None) is not None:
                for adapter in self.adapters.values():
                    adapter._client_left(owner)

        self._client_watches[owner] = self.conn.watch_name_owner(owner, owner_changed)

    def _client_properties_changed(self, interface, changed, invalidated, path=None, sender=None):
        if sender == self.conn.get_unique_name():
            return
        for adapter in self.adapters.values():
            adapter._client_properties_changed(sender, path, interface, changed)

    def _client_interfaces_removed(self, obj_path, interfaces, path=None, sender=None):
        if sender == self.conn.get_unique_name():
            return
        for adapter in self.adapters.values():
            adapter._client_interfaces_removed(sender, path, str(obj_path), [str(i) for i in interfaces])


class Adapter:
    """/org/bluez/hciN as bluetoothd presents it.

    Registrations survive power cycles (bluetoothd keeps them); `log` lists
    every call the application made and every call bluetoothd made to it, as
    tuples (method, path, ...)."""

    def __init__(self, bluez, name, address, powered, roles, max_advertisements):
        self.bluez = bluez
        self.name = name
        self.path = "/org/bluez/" + name
        self.address = address
        self.powered = powered
        self.roles = list(roles)
        self.max_advertisements = max_advertisements
        self.applications = []
        self.advertisements = []
        self.centrals = {}
        self.log = []
        self._application_failures = collections.deque()
        self._advertisement_failures = collections.deque()
        self._pending_applications = set()
        self._pending_advertisements = set()
        self.obj = None
        self.present = False

    # State ------------------------------------------------------------------

    @property
    def has_advertising_manager(self):
        return self.obj is not None and ADVERTISING_MANAGER in self.obj.interfaces

    @property
    def advertising(self):
        """On the air: powered with at least one advertisement registered."""
        return self.present and self.powered and bool(self.advertisements) and self.has_advertising_manager

    @property
    def application(self):
        """The one registered application; fails when there is not exactly one."""
        if len(self.applications) != 1:
            raise AssertionError(f"expected one registered application, have {self.applications}")
        return self.applications[0]

    @property
    def advertisement(self):
        if len(self.advertisements) != 1:
            raise AssertionError(f"expected one registered advertisement, have {self.advertisements}")
        return self.advertisements[0]

    def calls(self, *methods):
        return [entry for entry in self.log if entry[0] in methods]

    # Failure injection -------------------------------------------------------

    def fail_next_application(self, name="org.bluez.Error.Failed", message="Failed to create entry in database"):
        """The next RegisterApplication is answered with this error (after
        GetManagedObjects, except for the errors bluetoothd answers at once)."""
        self._application_failures.append((name, message))

    def fail_next_advertisement(self, name="org.bluez.Error.Failed", message="Failed to register advertisement"):
        self._advertisement_failures.append((name, message))

    # Power and presence ------------------------------------------------------

    def power_off(self):
        """Links drop first, then Powered goes false."""
        for central in list(self.centrals.values()):
            if central.connected:
                central.disconnect()
        self.powered = False
        self._update_power()

    def power_on(self):
        self.powered = True
        self._update_power()

    def _update_power(self):
        changes = {"Powered": dbus.Boolean(self.powered)}
        if self.bluez.version != "5.66":
            changes["PowerState"] = dbus.String("on" if self.powered else "off")
        self.obj.update(ADAPTER, **changes)

    def add_advertising_manager(self):
        if self.present and not self.has_advertising_manager:
            self.obj.interfaces[ADVERTISING_MANAGER] = self._advertising_manager_properties()
            self.bluez._announce(self.obj, [ADVERTISING_MANAGER])

    def _advertising_manager_properties(self):
        return {
            "ActiveInstances": dbus.Byte(len(self.advertisements)),
            "SupportedInstances": dbus.Byte(self.max_advertisements - len(self.advertisements)),
            "SupportedIncludes": _strings(["tx-power", "appearance", "local-name"]),
            "SupportedSecondaryChannels": _strings(["1M", "2M", "Coded"]),
        }

    def _appear(self, advertising_manager):
        adapter_props = {
            "Address": dbus.String(self.address),
            "AddressType": dbus.String("public"),
            "Name": dbus.String("orbilatch-" + self.name),
            "Alias": dbus.String("orbilatch-" + self.name),
            "Class": dbus.UInt32(0x6c010c),
            "Powered": dbus.Boolean(self.powered),
            "Discoverable": dbus.Boolean(False),
            "DiscoverableTimeout": dbus.UInt32(180),
            "Pairable": dbus.Boolean(True),
            "PairableTimeout": dbus.UInt32(0),
            "Discovering": dbus.Boolean(False),
            "UUIDs": _strings(["00001801-0000-1000-8000-00805f9b34fb", "00001800-0000-1000-8000-00805f9b34fb"]),
            "Modalias": dbus.String("usb:v1D6Bp0246d0542"),
            "Roles": _strings(self.roles),
        }
        if self.bluez.version != "5.66":
            adapter_props["PowerState"] = dbus.String("on" if self.powered else "off")
        interfaces = {
            ADAPTER: adapter_props,
            GATT_MANAGER: {},
            "org.bluez.Media1": {"SupportedUUIDs": _strings([])},
            "org.bluez.NetworkServer1": {},
        }
        if advertising_manager is True:
            interfaces[ADVERTISING_MANAGER] = self._advertising_manager_properties()
        self.obj = _AdapterObject(self, interfaces)
        self.bluez.objects[self.path] = self.obj
        self.present = True
        self.bluez._announce(self.obj)
        if advertising_manager == "later":
            generation = self.bluez._generation

            def later():
                if generation == self.bluez._generation:
                    self.add_advertising_manager()
                return False

            GLib.timeout_add(50, later)

    def _remove(self):
        for central in list(self.centrals.values()):
            central._vanish()
        for app in list(self.applications):
            self._drop_application(app)
        for adv in list(self.advertisements):
            self.log.append(("Release", adv.path))
            self.bluez._call(adv.owner, adv.path, ADVERTISEMENT, "Release", "", (),
                             lambda *_: None, lambda *_: None)
        self.advertisements = []
        self.present = False
        self.bluez._unexport(self.path)

    def _gone(self):
        """bluetoothd left the bus."""
        for central in self.centrals.values():
            central.connected = False
            central.present = False
            central._subscribed_to.clear()
        self.applications = []
        self.advertisements = []
        self.present = False

    def _all_links(self):
        return [link for app in self.applications for s in app.services for c in s.characteristics
                for link in c.links.values()]

    # GattManager1 --------------------------------------------------------------

    def _register_application(self, owner, path, ok, fail):
        self.log.append(("RegisterApplication", path))
        if (any(a.owner == owner and a.path == path for a in self.applications)
                or (owner, path) in self._pending_applications):
            fail(_bluez_error("org.bluez.Error.AlreadyExists", "Already Exists"))
            return
        failure = self._application_failures.popleft() if self._application_failures else None
        if failure and failure[0] in _IMMEDIATE_ERRORS:
            fail(_bluez_error(*failure))
            return
        self.bluez._watch_client(owner)
        self._pending_applications.add((owner, path))

        def objects_received(objects):
            if (owner, path) not in self._pending_applications:
                return
            self._pending_applications.discard((owner, path))
            outcome = _parse_application(owner, path, objects)
            if failure:
                fail(_bluez_error(*failure))
            elif isinstance(outcome, str):
                fail(_bluez_error("org.bluez.Error.Failed", outcome))
            else:
                self.applications.append(outcome)
                ok()

        def no_objects(error):
            if (owner, path) not in self._pending_applications:
                return
            self._pending_applications.discard((owner, path))
            self.log.append(("GetManagedObjects failed", path, str(error), error.message))
            fail(_bluez_error("org.bluez.Error.Failed", "No object received"))

        self.bluez._call(owner, path, OBJECT_MANAGER, "GetManagedObjects", "", (),
                         objects_received, no_objects)

    def _unregister_application(self, owner, path):
        self.log.append(("UnregisterApplication", path))
        app = next((a for a in self.applications if a.owner == owner and a.path == path), None)
        if app is None:
            raise _bluez_error("org.bluez.Error.DoesNotExist", "Does Not Exist")
        self._drop_application(app)

    def _drop_application(self, app):
        self.applications.remove(app)
        for service in app.services:
            self._drop_service(service)

    def _drop_service(self, service):
        for chrc in service.characteristics:
            for link in chrc.links.values():
                link.close()
            chrc.links.clear()
            for central in chrc.subscribers:
                central._subscribed_to.discard(chrc.path)
            chrc.subscribers.clear()

    # LEAdvertisingManager1 -------------------------------------------------------

    def _register_advertisement(self, owner, path, ok, fail):
        self.log.append(("RegisterAdvertisement", path))
        if (any(a.owner == owner and a.path == path for a in self.advertisements)
                or (owner, path) in self._pending_advertisements):
            fail(_bluez_error("org.bluez.Error.AlreadyExists", "Already Exists"))
            return
        if len(self.advertisements) + len(self._pending_advertisements) >= self.max_advertisements:
            fail(_bluez_error("org.bluez.Error.NotPermitted", "Maximum advertisements reached"))
            return
        failure = self._advertisement_failures.popleft() if self._advertisement_failures else None
        if failure and failure[0] in _IMMEDIATE_ERRORS:
            fail(_bluez_error(*failure))
            return
        self.bluez._watch_client(owner)
        self._pending_advertisements.add((owner, path))

        def properties_received(props):
            if (owner, path) not in self._pending_advertisements:
                return
            self._pending_advertisements.discard((owner, path))
            props = _plain(props)
            if failure:
                fail(_bluez_error(*failure))
            elif props.get("Type", "broadcast") not in ("broadcast", "peripheral"):
                fail(_bluez_error("org.bluez.Error.Failed", "Failed to parse advertisement."))
            else:
                self.advertisements.append(Advertisement(owner, path, props))
                self._update_instances()
                ok()

        def no_properties(error):
            if (owner, path) not in self._pending_advertisements:
                return
            self._pending_advertisements.discard((owner, path))
            self.log.append(("GetAll failed", path, str(error), error.message))
            fail(_bluez_error("org.bluez.Error.Failed", "Failed to complete registration"))

        self.bluez._call(owner, path, PROPERTIES, "GetAll", "s", (ADVERTISEMENT,),
                         properties_received, no_properties)

    def _unregister_advertisement(self, owner, path):
        self.log.append(("UnregisterAdvertisement", path))
        adv = next((a for a in self.advertisements if a.owner == owner and a.path == path), None)
        if adv is None:
            raise _bluez_error("org.bluez.Error.DoesNotExist", "Does Not Exist")
        self.advertisements.remove(adv)
        self._update_instances()

    def _update_instances(self):
        if self.has_advertising_manager:
            self.obj.update(ADVERTISING_MANAGER,
                            ActiveInstances=dbus.Byte(len(self.advertisements)),
                            SupportedInstances=dbus.Byte(self.max_advertisements - len(self.advertisements)))

    # Clients ------------------------------------------------------------------------

    def _client_left(self, owner):
        for app in [a for a in self.applications if a.owner == owner]:
            self._drop_application(app)
        self._pending_applications = {p for p in self._pending_applications if p[0] != owner}
        self._pending_advertisements = {p for p in self._pending_advertisements if p[0] != owner}
        before = len(self.advertisements)
        self.advertisements = [a for a in self.advertisements if a.owner != owner]
        if len(self.advertisements) != before:
            self._update_instances()

    def _client_properties_changed(self, owner, path, interface, changed):
        for adv in self.advertisements:
            if adv.owner == owner and adv.path == path:
                adv.properties_changed += 1
        if interface != GATT_CHARACTERISTIC or "Value" not in changed:
            return
        value = bytes(_plain(changed["Value"]))
        for app in self.applications:
            if app.owner != owner:
                continue
            for service in app.services:
                for chrc in service.characteristics:
                    if chrc.path == path and ("notify" in chrc.flags or "indicate" in chrc.flags):
                        self.log.append(("PropertiesChanged Value", path, value))
                        for central in list(chrc.subscribers):
                            central._deliver(value, "property")

    def _client_interfaces_removed(self, owner, om_path, obj_path, interfaces):
        if GATT_SERVICE not in interfaces:
            return
        for app in self.applications:
            if app.owner == owner and app.path == om_path:
                for service in [s for s in app.services if s.path == obj_path]:
                    app.services.remove(service)
                    self._drop_service(service)

    # Centrals ------------------------------------------------------------------------

    def central(self, address, address_type="public", bonded=False, connect=True):
        """A remote device; by default it connects at once."""
        central = self.centrals.get(address)
        if central is None or not central.present:
            central = Central(self, address, address_type, bonded)
            self.centrals[address] = central
            central._appear()
        if connect and not central.connected:
            central.connect()
        return central

    def _characteristic(self, uuid):
        for app in reversed(self.applications):
            chrc = app.characteristic(uuid)
            if chrc:
                return chrc
        raise AssertionError(f"no registered application on {self.name} offers characteristic {uuid}"
                             f" (registered: {self.applications})")


class Central:
    """A remote LE device connected to the adapter: the watch."""

    def __init__(self, adapter, address, address_type, bonded):
        self.adapter = adapter
        self.bluez = adapter.bluez
        self.address = address
        self.address_type = address_type
        self.bonded = bonded
        self.path = f"{adapter.path}/dev_{address.replace(':', '_')}"
        self.connected = False
        self.present = False
        self.obj = None
        self.notifications = collections.deque()
        self.notification_sources = []
        self._subscribed_to = set()

    def _device_properties(self):
        return {
            "Address": dbus.String(self.address),
            "AddressType": dbus.String(self.address_type),
            "Alias": dbus.String(self.address.replace(":", "-")),
            "Paired": dbus.Boolean(self.bonded),
            "Bonded": dbus.Boolean(self.bonded),
            "Trusted": dbus.Boolean(False),
            "Blocked": dbus.Boolean(False),
            "LegacyPairing": dbus.Boolean(False),
            "Connected": dbus.Boolean(self.connected),
            "ServicesResolved": dbus.Boolean(False),
            "UUIDs": _strings([]),
            "Adapter": dbus.ObjectPath(self.adapter.path),
        }

    def _appear(self):
        self.obj = _Exported(self.bluez, self.path, {DEVICE: self._device_properties()})
        self.bluez.objects[self.path] = self.obj
        self.present = True
        self.bluez._announce(self.obj)

    def _vanish(self):
        """The device object goes away (adapter removed, or forgotten)."""
        if self.connected:
            self.disconnect()
        self._unsubscribe_all()
        self.present = False
        self.bluez._unexport(self.path)

    def forget(self):
        self._vanish()
        self.adapter.centrals.pop(self.address, None)

    # Link -------------------------------------------------------------------------

    def connect(self):
        """Connected goes true. A bonded device keeps the subscriptions it had:
        bluetoothd does not ask the application again."""
        if not self.adapter.powered:
            raise AssertionError(f"{self.adapter.name} is powered off: {self.address} cannot connect")
        if not self.present:
            self._appear()
        self.connected = True
        self.obj.update(DEVICE, Connected=dbus.Boolean(True))
        pump()

    reconnect = connect

    def disconnect(self, order="hangup_first"):
        """The link drops. order: "hangup_first" or "connected_first", which of
        the socket hang-up and Connected=false comes first (both were seen)."""
        if not self.connected:
            return
        if order == "hangup_first":
            self._drop_subscriptions_on_disconnect()
            self._set_disconnected()
        elif order == "connected_first":
            self._set_disconnected()
            self._drop_subscriptions_on_disconnect()
        else:
            raise ValueError(order)
        pump()

    def _set_disconnected(self):
        self.connected = False
        self.obj.update(DEVICE, Connected=dbus.Boolean(False), ServicesResolved=dbus.Boolean(False))

    def _drop_subscriptions_on_disconnect(self):
        if self.bonded:
            # bluetoothd keeps a bonded device's CCC. 5.82 still hangs up its
            # own socket; 5.66's shared socket stays.
            if self.bluez.per_device_notify:
                for chrc in self._characteristics():
                    link = chrc.links.pop(self, None)
                    if link:
                        link.close()
        else:
            self._unsubscribe_all()

    def pair(self):
        """Pairing completes with bonding."""
        self.bonded = True
        self.obj.update(DEVICE, Paired=dbus.Boolean(True), Bonded=dbus.Boolean(True))
        pump()

    # Notifications ------------------------------------------------------------------

    def subscribe(self, uuid=ACKNOWLEDGEMENT_UUID, timeout=DEFAULT_TIMEOUT):
        """Write the CCC to enable notifications. Returns None, or the
        DBusError of the AcquireNotify that bluetoothd made for it."""
        if not self.connected:
            raise AssertionError(f"{self.address} is not connected")
        chrc = self.adapter._characteristic(uuid)
        if "notify" not in chrc.flags:
            raise AssertionError(f"characteristic {uuid} does not notify (Flags {chrc.flags})")
        if self in chrc.subscribers:
            return None  # the CCC value did not change: bluetoothd does nothing
        chrc.subscribers.append(self)
        self._subscribed_to.add(chrc.path)
        if not chrc.notify_acquired:
            return self._start_notify(chrc, timeout)
        key = self if self.bluez.per_device_notify else None
        if key in chrc.links or key in chrc.acquiring:
            return None  # 5.66: the socket is shared, nothing is asked
        return self._acquire_notify(chrc, key, timeout)

    def _acquire_notify(self, chrc, key, timeout):
        owner = self._owner_of(chrc)
        outcome = {}
        chrc.acquiring.add(key)
        self.adapter.log.append(("AcquireNotify", chrc.path, self.path))

        def acquired(fd, mtu):
            chrc.acquiring.discard(key)
            fd = fd.take()
            if self in chrc.subscribers or (key is None and chrc.subscribers):
                chrc.links[key] = _NotifyLink(chrc, fd, int(mtu), key)
            else:
                os.close(fd)  # the central left while we waited
            outcome["result"] = None

        def refused(error):
            chrc.acquiring.discard(key)
            outcome["result"] = error
            # bluetoothd falls back to StartNotify unless the call failed or timed out.
            if error not in ("org.freedesktop.DBus.Error.NoReply", "org.bluez.Error.Failed"):
                self._start_notify(chrc, timeout, wait=False)

        self.bluez._call(owner, chrc.path, GATT_CHARACTERISTIC, "AcquireNotify", "a{sv}",
                         (self._options(),), acquired, refused)
        pump_until(lambda: "result" in outcome, timeout, f"AcquireNotify answer for {self.address}")
        return outcome["result"]

    def _start_notify(self, chrc, timeout, wait=True):
        outcome = {}
        self.adapter.log.append(("StartNotify", chrc.path))
        self.bluez._call(self._owner_of(chrc), chrc.path, GATT_CHARACTERISTIC, "StartNotify", "", (),
                         lambda: outcome.setdefault("result", None),
                         lambda error: outcome.setdefault("result", error))
        if wait:
            pump_until(lambda: "result" in outcome, timeout, "StartNotify answer")
            return outcome["result"]
        return None

    def unsubscribe(self, uuid=ACKNOWLEDGEMENT_UUID):
        """Write the CCC to disable notifications: bluetoothd lets go of this
        device's socket (5.82), or of the shared one once nobody is left (5.66)."""
        chrc = self.adapter._characteristic(uuid)
        self._unsubscribe(chrc)
        pump()

    def _unsubscribe(self, chrc):
        if self in chrc.subscribers:
            chrc.subscribers.remove(self)
        self._subscribed_to.discard(chrc.path)
        key = self if self.bluez.per_device_notify else None
        if key is None and chrc.subscribers:
            return  # 5.66: others still share the socket
        link = chrc.links.pop(key, None)
        if link:
            link.close()

    def _unsubscribe_all(self):
        for chrc in self._characteristics():
            if self in chrc.subscribers or self in chrc.links:
                self._unsubscribe(chrc)

    def _characteristics(self):
        return [c for app in self.adapter.applications for s in app.services for c in s.characteristics]

    @property
    def subscribed(self):
        return bool(self._subscribed_to)

    def notify_socket(self, uuid=ACKNOWLEDGEMENT_UUID):
        """bluetoothd's link that serves this device, or None."""
        chrc = self.adapter._characteristic(uuid)
        return chrc.links.get(self if self.bluez.per_device_notify else None)

    def _deliver(self, data, source):
        if self.connected:
            self.notifications.append(data)
            self.notification_sources.append(source)

    def notification(self, timeout=DEFAULT_TIMEOUT):
        """The next notification this device received, as bytes."""
        pump_until(lambda: self.notifications, timeout, f"a notification to {self.address}")
        return self.notifications.popleft()

    def assert_no_notification(self, within=0.3):
        pump_for(within)
        if self.notifications:
            raise AssertionError(f"unexpected notification to {self.address}: {list(self.notifications)}")

    # Writes -----------------------------------------------------------------------------

    def _options(self):
        return _options(device=dbus.ObjectPath(self.path), link=dbus.String("LE"),
                        mtu=dbus.UInt16(LE_MTU))

    def _owner_of(self, chrc):
        for app in self.adapter.applications:
            if any(c is chrc for s in app.services for c in s.characteristics):
                return app.owner
        raise AssertionError("characteristic no longer registered")

    def write(self, value, uuid=COMMAND_UUID, timeout=DEFAULT_TIMEOUT):
        """A write request. Returns None on success, else the DBusError."""
        return self.write_burst([value], uuid, timeout)[0]

    def write_burst(self, values, uuid=COMMAND_UUID, timeout=DEFAULT_TIMEOUT):
        """Several write requests in flight at once, arriving in this order."""
        if not self.connected:
            raise AssertionError(f"{self.address} is not connected")
        chrc = self.adapter._characteristic(uuid)
        if not any(f in chrc.flags for f in ("write", "encrypt-write", "encrypt-authenticated-write",
                                             "secure-write")):
            raise AssertionError(f"characteristic {uuid} does not take write requests (Flags {chrc.flags})")
        owner = self._owner_of(chrc)
        results = [Ellipsis] * len(values)
        for index, value in enumerate(values):
            self.adapter.log.append(("WriteValue", chrc.path, self.path, bytes(value)))

            def done(index=index):
                results[index] = None

            def failed(error, index=index):
                results[index] = error

            self.bluez._call(owner, chrc.path, GATT_CHARACTERISTIC, "WriteValue", "aya{sv}",
                             (dbus.Array([dbus.Byte(b) for b in value], signature="y"), self._options()),
                             done, failed, timeout=WRITE_TIMEOUT)
        pump_until(lambda: Ellipsis not in results, max(timeout, WRITE_TIMEOUT + 1),
                   f"answers to {len(values)} write(s) from {self.address}")
        return results


class ForeignCaller:
    """A bus connection that is not org.bluez, calling an application's objects
    as if it were bluetoothd."""

    def __init__(self, bluez):
        self.bluez = bluez
        self.conn = dbus.bus.BusConnection(bluez.bus_address)

    def call(self, destination, path, interface, method, signature="", args=(), timeout=DEFAULT_TIMEOUT):
        outcome = {}

        def reply(*values):
            for value in values:
                if isinstance(value, dbus.types.UnixFd):
                    os.close(value.take())
            outcome["result"] = None

        self.conn.call_async(destination, path, interface, method, signature, args, reply,
                             lambda error: outcome.setdefault("result", DBusError.from_exception(error)),
                             timeout=timeout)
        pump_until(lambda: "result" in outcome, timeout + 1, f"an answer to {method}")
        return outcome["result"]

    def _target(self, adapter, uuid):
        chrc = self.bluez.adapter(adapter)._characteristic(uuid)
        return next(a.owner for a in self.bluez.adapter(adapter).applications
                    if any(c is chrc for s in a.services for c in s.characteristics)), chrc.path

    def _options(self, device):
        return _options(device=dbus.ObjectPath(device), link=dbus.String("LE"), mtu=dbus.UInt16(LE_MTU))

    def write(self, value, device="/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01", adapter="hci0", uuid=COMMAND_UUID):
        owner, path = self._target(adapter, uuid)
        return self.call(owner, path, GATT_CHARACTERISTIC, "WriteValue", "aya{sv}",
                         (dbus.Array([dbus.Byte(b) for b in value], signature="y"), self._options(device)))

    def acquire_notify(self, device="/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01", adapter="hci0",
                       uuid=ACKNOWLEDGEMENT_UUID):
        owner, path = self._target(adapter, uuid)
        return self.call(owner, path, GATT_CHARACTERISTIC, "AcquireNotify", "a{sv}", (self._options(device),))

    def release_advertisement(self, adapter="hci0"):
        adv = self.bluez.adapter(adapter).advertisement
        return self.call(adv.owner, adv.path, ADVERTISEMENT, "Release")

    def close(self):
        self.conn.close()
