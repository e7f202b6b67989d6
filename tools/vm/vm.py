"""The host side of the VM in which the agent meets the real Linux Bluetooth
stack (the demo, the system tests and the benchmarks): builds what the guest
boots from and boots Debian's kernel in qemu.

The guest has no disk image. Its root is a directory of this machine shared
read-only over 9p: either the host's own root (the BlueZ the host has
installed) or a Debian 13 tree made once with debootstrap and cached in the
work folder. Three more shares carry the project's source (read-only), a
results folder the guest writes to and, for the Debian 13 tree, the host's
kernel modules. A small initramfs (busybox and the 9p modules) mounts them
and switches to tools/vm/guest/stage2.sh, which runs the plan's scenarios.
"""

import fcntl
import gzip
import hashlib
import json
import lzma
import os
import re
import shutil
import subprocess
import threading
import time
import urllib.parse
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
VM_DIR = SOURCE_DIR / "tools" / "vm"
GUEST_SOURCE = "/run/orbilatch/src"
GUEST_RESULTS = "/run/orbilatch/out"
STAGE2 = f"{GUEST_SOURCE}/tools/vm/guest/stage2.sh"

# Insertion order matters: each module needs the ones before it. overlay
# makes the root writable for a boot that asks for it.
NINEP_MODULES = [
    "virtio_ring", "virtio", "virtio_pci_legacy_dev", "virtio_pci_modern_dev", "virtio_pci",
    "netfs", "fscache", "9pnet", "9pnet_virtio", "9p", "overlay",
]

QEMU = "qemu-system-x86_64"
TRIXIE_PACKAGES = [
    "bluez", "bluez-test-tools", "python3-bleak", "python3-dbus", "python3-gi", "dbus",
    "kmod", "busybox", "iproute2", "systemd", "procps",
    # the presenter: its libraries, and its keys read back
    "libevdev2", "libxtst6", "libxres1", "python3-evdev",
    # the package's user unit verified, which runs man for its Documentation=
    "man-db",
]


STACKS = ("debian12", "debian13")


class VmUnavailable(Exception):
    """qemu or the kernel it needs is missing: no VM can run here."""


class BootTimeout(Exception):
    pass


def _version_key(release):
    return [int(part) if part.isdigit() else part for part in re.split(r"[.\-+~]", release)]


def find_kernel():
    """The newest Debian kernel in /boot whose modules are installed."""
    releases = []
    for image in Path("/boot").glob("vmlinuz-*"):
        release = image.name[len("vmlinuz-"):]
        if (Path("/lib/modules") / release / "modules.dep").exists():
            releases.append(release)
    if not releases:
        raise VmUnavailable("no kernel image with its modules in /boot and /lib/modules "
                            "(install linux-image-amd64)")
    release = max(releases, key=_version_key)
    return Path("/boot") / f"vmlinuz-{release}", release


def check_qemu():
    if shutil.which(QEMU) is None:
        raise VmUnavailable(f"{QEMU} is not installed (install qemu-system-x86)")
    busybox = Path("/bin/busybox")
    if not busybox.exists():
        raise VmUnavailable("/bin/busybox is missing (install busybox-static)")


def qemu_startable():
    """None when qemu can run here, else why not."""
    try:
        check_qemu()
        out = subprocess.run([QEMU, "--version"], capture_output=True, text=True, timeout=30)
    except VmUnavailable as reason:
        return str(reason)
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"{QEMU} cannot run: {error}"
    if out.returncode != 0:
        return f"{QEMU} cannot run: {out.stderr.strip() or out.returncode}"
    return None


def _module_file(release, name):
    root = Path("/lib/modules") / release / "kernel"
    for suffix in (".ko", ".ko.xz", ".ko.zst"):
        found = list(root.rglob(name + suffix))
        if found:
            return found[0]
    raise VmUnavailable(f"kernel module {name} not found for {release}")


def _module_bytes(path):
    if path.name.endswith(".xz"):
        return lzma.decompress(path.read_bytes())
    if path.name.endswith(".zst"):
        return subprocess.run(["zstd", "-dc", str(path)], check=True, capture_output=True).stdout
    return path.read_bytes()


def build_initramfs(work_dir):
    """busybox-static, the stage-1 script and the 9p modules, rebuilt only
    when one of them changed."""
    kernel, release = find_kernel()
    init_script = VM_DIR / "initramfs-init"
    modules = [_module_file(release, name) for name in NINEP_MODULES]
    digest = hashlib.sha256()
    for part in [init_script, Path("/bin/busybox"), *modules]:
        stat = part.stat()
        digest.update(f"{part}:{stat.st_size}:{stat.st_mtime_ns}\n".encode())
    digest.update(init_script.read_bytes())
    target = Path(work_dir) / f"initramfs-{release}-{digest.hexdigest()[:12]}.cpio.gz"
    if target.exists():
        return kernel, target

    staging = Path(work_dir) / "initramfs-staging"
    shutil.rmtree(staging, ignore_errors=True)
    for sub in ("bin", "modules", "proc", "dev", "newroot"):
        (staging / sub).mkdir(parents=True)
    shutil.copy2("/bin/busybox", staging / "bin" / "busybox")
    shutil.copy2(init_script, staging / "init")
    os.chmod(staging / "init", 0o755)
    for name, path in zip(NINEP_MODULES, modules):
        (staging / "modules" / f"{name}.ko").write_bytes(_module_bytes(path))
    (staging / "modules" / "order").write_text("\n".join(NINEP_MODULES) + "\n")

    listing = subprocess.run(["find", "."], cwd=staging, check=True, capture_output=True).stdout
    archive = subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "--owner=0:0"], cwd=staging,
                             input=listing, check=True, capture_output=True).stdout
    for old in Path(work_dir).glob("initramfs-*.cpio.gz"):
        old.unlink()
    partial = target.with_suffix(".partial")
    partial.write_bytes(gzip.compress(archive, compresslevel=6))
    partial.rename(target)
    shutil.rmtree(staging)
    return kernel, target


def build_trixie_tree(work_dir, log):
    """A Debian 13 tree for the guest's root, made once. Returns its path.

    debootstrap records the mirror it used inside the tree; those files are
    deleted, and so are apt's package lists, which the guest never needs."""
    tree = Path(work_dir) / "debian13"
    stamp = tree / ".orbilatch-complete"
    # A tree made from another package list is made again.
    packages = "packages: " + " ".join(TRIXIE_PACKAGES)
    if stamp.exists() and packages in stamp.read_text().splitlines():
        return tree
    if shutil.which("debootstrap") is None:
        raise RuntimeError("debootstrap is not installed")
    shutil.rmtree(tree, ignore_errors=True)
    tree.parent.mkdir(parents=True, exist_ok=True)
    log(f"building the Debian 13 tree in {tree} (once; about a minute or two)")
    started = time.monotonic()
    result = subprocess.run(
        ["debootstrap", "--variant=minbase", "--include=" + ",".join(TRIXIE_PACKAGES),
         "trixie", str(tree)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        tail = "\n".join(result.stdout.splitlines()[-20:])
        raise RuntimeError(f"debootstrap failed with status {result.returncode}:\n{tail}")
    _forget_mirror(tree)
    (tree / "var/lib/apt/lists").mkdir(parents=True)
    # The guest mounts the host's modules here and writes nowhere in the tree.
    (tree / "usr/lib/modules").mkdir(parents=True, exist_ok=True)
    machine_id = tree / "etc/machine-id"
    machine_id.write_text(hashlib.md5(str(tree).encode()).hexdigest() + "\n")
    for mount_point in ["run", "tmp", "var/tmp", "var/lib/bluetooth", "dev", "proc", "sys"]:
        (tree / mount_point).mkdir(parents=True, exist_ok=True)
    stamp.write_text(f"built in {time.monotonic() - started:.0f} s\n{packages}\n")
    log(f"Debian 13 tree ready in {time.monotonic() - started:.0f} s")
    return tree


def _forget_mirror(tree):
    """Deletes every file of the tree that names the mirror debootstrap used
    (apt's sources, its package lists, debootstrap's log, and the odd shipped
    example), and apt's caches: the guest installs nothing but local packages."""
    hosts = set()
    sources = tree / "etc/apt/sources.list"
    if sources.exists():
        for line in sources.read_text().splitlines():
            words = line.split()
            if len(words) > 1 and words[0] == "deb":
                host = urllib.parse.urlsplit(words[1]).hostname
                if host:
                    hosts.add(host)
    for leftover in ["etc/apt/sources.list", "etc/apt/sources.list.d", "var/lib/apt/lists",
                     "var/cache/apt", "var/log/bootstrap.log", "debootstrap"]:
        path = tree / leftover
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path)
        elif path.exists() or path.is_symlink():
            path.unlink()
    for host in hosts:
        found = subprocess.run(["grep", "-rlIFZ", "--devices=skip", "--", host, str(tree)],
                               capture_output=True).stdout
        for name in filter(None, found.split(b"\0")):
            os.unlink(name)


class Vm:
    """One boot. The guest's console goes to console_log; lines the guest
    runner marks for the host are passed to on_line as they arrive."""

    MARK = "orbilatch| "

    def __init__(self, work_dir, root, results_dir, console_log, modules_share=False, writable_root=False):
        self.work_dir = Path(work_dir)
        self.root = Path(root)
        self.results_dir = Path(results_dir)
        self.console_log = Path(console_log)
        self.modules_share = modules_share
        self.writable_root = writable_root

    def command(self, kernel, initramfs):
        append = ["console=ttyS0", "panic=-1", "quiet", "edd=off", f"orbilatch.stage2={STAGE2}"]
        shares = [("hostroot", self.root, True), ("source", SOURCE_DIR, True),
                  ("results", self.results_dir, False)]
        if self.modules_share:
            shares.append(("modules", Path("/lib/modules"), True))
            append.append("orbilatch.modules=/usr/lib/modules")
        if self.writable_root:
            append.append("orbilatch.writable_root")
        # At the machine's usual priority: a guest niced below a busy
        # machine's other work is starved far past its scenarios' timings.
        command = [
            QEMU,
            "-nodefaults", "-no-user-config", "-display", "none", "-serial", "stdio",
            "-accel", "tcg,thread=multi", "-cpu", "max", "-smp", "2", "-m", "1024",
            "-no-reboot", "-kernel", str(kernel), "-initrd", str(initramfs),
            "-append", " ".join(append),
        ]
        for tag, path, readonly in shares:
            share = f"local,path={path},mount_tag={tag},security_model=none,multidevs=remap"
            command += ["-virtfs", share + (",readonly=on" if readonly else "")]
        return command

    # Two guests under software emulation on one machine slow each other down
    # past the timings the scenarios rely on: boots from every checkout queue here.
    LOCK = Path("/tmp/orbilatch-vm.lock")

    def run(self, timeout, on_line=None):
        """Boots, waits for the guest to power off, returns qemu's exit status."""
        with open(self.LOCK, "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            return self._run(timeout, on_line)

    def _run(self, timeout, on_line):
        kernel, initramfs = build_initramfs(self.work_dir)
        self.results_dir.mkdir(parents=True, exist_ok=True)
        process = subprocess.Popen(self.command(kernel, initramfs), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        expired = threading.Event()

        def expire():
            expired.set()
            process.kill()

        timer = threading.Timer(timeout, expire)
        timer.start()
        try:
            with open(self.console_log, "wb") as log:
                for raw in iter(process.stdout.readline, b""):
                    log.write(raw)
                    log.flush()
                    text = raw.decode(errors="replace").rstrip("\r\n")
                    if on_line and self.MARK in text:
                        on_line(text.split(self.MARK, 1)[1])
            status = process.wait()
        finally:
            timer.cancel()
            if process.poll() is None:
                process.kill()
                process.wait()
        if expired.is_set():
            raise BootTimeout(f"the VM did not power off within {timeout:.0f} s")
        return status

    def console_tail(self, lines=40):
        try:
            text = self.console_log.read_text(errors="replace")
        except FileNotFoundError:
            return ""
        return "\n".join(text.splitlines()[-lines:])


def boot_plan(stack, work, name, plan, programs, timeout, on_line=None, log=print):
    """One boot on a stack ("debian12": this machine's root; "debian13": the
    tree built once in the work folder) that runs the plan's scenarios with
    the programs copied into the results folder, work/name. plan holds
    "scenarios" (module:function), "paths" (folders of the source tree on the
    guest's module path), "controllers" and "scenario_timeout", and may ask
    for a "writable_root": an overlay on tmpfs for this boot only, its layers
    under /run/orbilatch/root in the guest. Returns the
    guest's results (None when it wrote none), the seconds taken and the Vm."""
    root = "/" if stack == "debian12" else build_trixie_tree(work, log)
    results_dir = Path(work) / name
    shutil.rmtree(results_dir, ignore_errors=True)
    results_dir.mkdir(parents=True)
    for program in programs:
        shutil.copy2(program, results_dir / Path(program).name)
    (results_dir / "plan.json").write_text(json.dumps(plan))
    machine = Vm(work, root, results_dir, results_dir / "console.log", modules_share=stack == "debian13",
                 writable_root=plan.get("writable_root", False))
    started = time.monotonic()
    try:
        machine.run(timeout, on_line=on_line)
    except BootTimeout as error:
        log(str(error))
    try:
        results = json.loads((results_dir / "results.json").read_text())
    except (FileNotFoundError, json.JSONDecodeError):
        results = None
    return results, time.monotonic() - started, machine


def boot_retrying_flakes(stack, work, name, plan, programs, timeout, verbose=False):
    """boot_plan, booted again on the emulated stack's known flakes: up to
    twice when the controllers did not come up (before any scenario ran),
    once when a scenario failed and the guest kernel reported a bug while it
    ran (the old stack's). That boot is reported first, and its folder kept
    as work/name.failed-boot; results["retried"] names its scenarios that
    failed with the kernel's report. Returns the results (None when the guest
    wrote none, after printing the console's tail) and the seconds of the
    last boot."""
    retries = {"the emulated controllers did not come up": 2, "the guest kernel hit a bug": 1}
    retried = []
    while True:
        results, seconds, machine = boot_plan(stack, work, name, plan, programs, timeout,
                                              on_line=(lambda line: print(f"  guest {line}")) if verbose else None)
        if results is None:
            print(f"no results after {seconds:.0f} s; console tail:\n{machine.console_tail()}")
            return None, seconds
        crashed = [s["name"] for s in results["scenarios"] if s["status"] != "pass" and s.get("kernel_bug")]
        flake = ("the emulated controllers did not come up" if results["stack"] == "not-up" else
                 "the guest kernel hit a bug" if crashed else None)
        if not flake or not retries[flake]:
            results["retried"] = retried
            return results, seconds
        retries[flake] -= 1
        if crashed:
            report(f"{name}, the boot to retry", plan["scenarios"], results, seconds)
            retried += crashed
        kept = machine.results_dir.with_name(f"{name}.failed-boot")
        shutil.rmtree(kept, ignore_errors=True)
        machine.results_dir.rename(kept)
        print(f"{flake} ({results.get('detail') or ', '.join(crashed)}); booting again (that boot is in {kept})")


def report(stack, scenarios, results, seconds):
    """Prints each planned scenario's outcome and notes; returns how many failed."""
    print(f"{stack}: bluetoothd {results['bluez']}, boot took {seconds:.0f} s")
    if results["stack"] != "up":
        print(f"the stack did not come up ({results['stack']}): {results.get('detail')}")
        return len(scenarios)
    ran = {s["name"]: s for s in results["scenarios"]}
    failed = 0
    for name in (s.split(":")[1] for s in scenarios):
        scenario = ran.get(name, {"status": "did not run", "seconds": 0, "detail": "", "notes": []})
        passed = scenario["status"] == "pass"
        failed += not passed
        retry = ", passed on retry" if passed and name in results.get("retried", []) else ""
        print(f"{'PASS' if passed else 'FAIL'} {name} ({scenario['status']}, {scenario['seconds']} s{retry})"
              + ("" if passed else f"\n{scenario['detail']}"))
        if scenario.get("kernel_bug"):
            print(f"  guest kernel while it ran: {scenario['kernel_bug']}")
        for note in scenario["notes"]:
            print(f"  note: {note}")
    if results.get("kernel_bug"):
        print(f"guest kernel: {results['kernel_bug']}")
    print(f"{len(scenarios) - failed} passed, {failed} failed")
    return failed
