"""The Linux Bluetooth stack inside the guest: kernel modules, the system bus,
btvirt's emulated LE controllers (they all see each other) and bluetoothd.

    stack = Stack(results_dir, controllers=4, log=print)
    stack.start()            # raises StackNotUp when a controller never came up
    stack.kill_bluetoothd()
    stack.start_bluetoothd()
"""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

# Loaded up front: when btvirt or SMP load them on demand over 9p, the first
# controller's HCI Reset can time out and that controller never comes up.
CRYPTO_MODULES = ["af_alg", "algif_hash", "algif_skcipher", "ecb", "cmac", "aesni_intel",
                  "aes_generic", "ecdh_generic"]
BLUETOOTH_MODULES = ["bluetooth", "hci_vhci"]


class StackNotUp(Exception):
    """The emulator's start-up flake: a controller did not come up."""


def _find_bluetoothd():
    for candidate in ("/usr/libexec/bluetooth/bluetoothd", "/usr/lib/bluetooth/bluetoothd",
                      "/usr/sbin/bluetoothd"):
        if os.access(candidate, os.X_OK):
            return candidate
    raise FileNotFoundError("bluetoothd not found")


def bluez_version():
    out = subprocess.run([_find_bluetoothd(), "--version"], capture_output=True, text=True)
    return out.stdout.strip()


class Stack:
    def __init__(self, results_dir, controllers=4, log=print):
        self.results_dir = Path(results_dir)
        self.controllers = controllers
        self.log = log
        self.btvirt = None
        self.bluetoothd = None
        self.bluetoothd_starts = 0
        self.conf = Path("/run/orbilatch/bluetoothd.conf")

    # -- bring-up -------------------------------------------------------

    def start(self, attempts=3):
        self._load_modules()
        self._start_dbus()
        self._write_conf()
        for attempt in range(1, attempts + 1):
            self._start_btvirt(attempt)
            if self._wait_controllers(timeout=40):
                break
            self.log(f"btvirt attempt {attempt}: not every controller came up; restarting it")
            self._stop_btvirt()
        else:
            raise StackNotUp(f"{self.controllers} controllers never came up")
        self.start_bluetoothd()

    def _run(self, *command, timeout=30, check=True):
        return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=timeout, check=check)

    def _load_modules(self):
        # Modules come over 9p, which a busy host slows down a great deal.
        for module in CRYPTO_MODULES:
            # Some are built in or absent on a given kernel, and each is only
            # a head start: none is worth failing the boot for.
            try:
                self._run("modprobe", "-q", module, check=False, timeout=120)
            except subprocess.TimeoutExpired:
                self.log(f"modprobe {module} took over two minutes; going on without it")
        for module in BLUETOOTH_MODULES:
            self._run("modprobe", module, timeout=300)

    def _start_dbus(self):
        run_dir = Path("/run/dbus")
        run_dir.mkdir(exist_ok=True)
        shutil.chown(run_dir, "messagebus", "messagebus")
        self._run("dbus-daemon", "--system", "--fork")
        deadline = time.monotonic() + 20
        while not Path("/run/dbus/system_bus_socket").exists():
            if time.monotonic() > deadline:
                raise RuntimeError("the system bus did not come up")
            time.sleep(0.1)

    def _write_conf(self):
        self.conf.parent.mkdir(parents=True, exist_ok=True)
        # One ATT channel: with EATT's three, two emulated controllers under one
        # bluetoothd lose the link right after service discovery.
        self.conf.write_text("[GATT]\nChannels = 1\n")

    def _start_btvirt(self, attempt):
        log = open(self.results_dir / f"btvirt-{attempt}.log", "wb")
        self.btvirt = subprocess.Popen(["btvirt", "-L", f"-l{self.controllers}"],
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        log.close()

    def _stop_btvirt(self):
        if self.btvirt and self.btvirt.poll() is None:
            self.btvirt.terminate()
            try:
                self.btvirt.wait(10)
            except subprocess.TimeoutExpired:
                self.btvirt.kill()
                self.btvirt.wait()
        self.btvirt = None
        deadline = time.monotonic() + 20
        while self._present_controllers() and time.monotonic() < deadline:
            time.sleep(0.2)

    def _present_controllers(self):
        root = Path("/sys/class/bluetooth")
        return sorted(p.name for p in root.iterdir()) if root.exists() else []

    def _wait_controllers(self, timeout):
        """Every controller registered and answering the management interface."""
        wanted = [f"hci{index}" for index in range(self.controllers)]
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            present = self._present_controllers()
            if all(name in present for name in wanted):
                if all(self._controller_info(index) for index in range(self.controllers)):
                    return True
            if self.btvirt.poll() is not None:
                return False
            time.sleep(0.5)
        return False

    def btmgmt(self, *args, timeout=20):
        # btmgmt 5.82 hangs when its standard input is /dev/null: give it a
        # pseudo-terminal.
        primary, secondary = os.openpty()
        try:
            return subprocess.run(["btmgmt", *args], stdin=secondary, capture_output=True,
                                  text=True, timeout=timeout)
        finally:
            os.close(primary)
            os.close(secondary)

    def _controller_info(self, index):
        try:
            out = self.btmgmt("--index", str(index), "info", timeout=15)
        except subprocess.TimeoutExpired:
            return None
        return out.stdout if "addr " in out.stdout else None

    # -- bluetoothd -----------------------------------------------------

    def start_bluetoothd(self):
        """Starts bluetoothd and powers every controller on (bluetoothd leaves a
        controller it finds powered off as it is)."""
        self.bluetoothd_starts += 1
        log = open(self.results_dir / f"bluetoothd-{self.bluetoothd_starts}.log", "wb")
        self.bluetoothd = subprocess.Popen(
            [_find_bluetoothd(), "-n", "-d", "-f", str(self.conf)],
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        log.close()
        self._wait_adapters(powered=None, timeout=30)
        for index in range(self.controllers):
            out = self.btmgmt("--index", str(index), "power", "on")
            if out.returncode != 0:
                raise RuntimeError(f"btmgmt power on hci{index} failed: {out.stdout}{out.stderr}")
        self._wait_adapters(powered=True, timeout=30)

    def kill_bluetoothd(self, sig=signal.SIGKILL):
        """Ends bluetoothd on purpose; it must still be running."""
        status = self.bluetoothd_exit()
        if status is not None:
            raise AssertionError(f"bluetoothd had ended by itself (status {status}) before it was killed")
        self.bluetoothd.send_signal(sig)
        self.bluetoothd.wait(20)
        self.bluetoothd = None

    def bluetoothd_exit(self):
        """bluetoothd's exit status when it ended without kill_bluetoothd, else None."""
        return None if self.bluetoothd is None else self.bluetoothd.poll()

    def _wait_adapters(self, powered, timeout):
        """Every controller visible on D-Bus as an adapter; powered when asked."""
        import dbus
        deadline = time.monotonic() + timeout
        last_error = None
        while time.monotonic() < deadline:
            try:
                bus = dbus.SystemBus()
                manager = dbus.Interface(bus.get_object("org.bluez", "/"),
                                         "org.freedesktop.DBus.ObjectManager")
                objects = manager.GetManagedObjects()
                adapters = {str(path): props["org.bluez.Adapter1"]
                            for path, props in objects.items() if "org.bluez.Adapter1" in props}
                wanted = [f"/org/bluez/hci{index}" for index in range(self.controllers)]
                if all(path in adapters for path in wanted) and (
                        powered is None or all(bool(adapters[p]["Powered"]) == powered for p in wanted)):
                    bus.close()
                    return
                bus.close()
                last_error = f"adapters {sorted(adapters)}"
            except dbus.exceptions.DBusException as error:
                last_error = error.get_dbus_name()
            if self.bluetoothd and self.bluetoothd.poll() is not None:
                raise RuntimeError(f"bluetoothd exited with status {self.bluetoothd.returncode}")
            time.sleep(0.3)
        raise RuntimeError(f"adapters not ready within {timeout} s ({last_error})")

    def stop(self):
        if self.bluetoothd and self.bluetoothd.poll() is None:
            self.kill_bluetoothd(signal.SIGTERM)
        self._stop_btvirt()
