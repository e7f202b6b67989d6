"""The Debian package as a user meets it: apt installs it; as an ordinary
user, the installed `orbilatch-present --check` passes and systemd verifies
its user unit; a real user manager starts the presenter with the desktop
session, the presenter presses the key of every command the watch taps,
writes to the journal and stops with the session; a purge leaves no file
behind. The boot's root is an overlay (the plan's writable_root), so every
file the root gained is in its upper layer and not in the lower one."""

import asyncio
import os
import time
from pathlib import Path

from presenter import every_command_presses_its_key
from presenter_rig import load_uinput
from rig import AGENT_ADDRESS
from user_session import UID, UserSession

LAYERS = Path("/run/orbilatch/root")
# What any install and purge leaves: the records, logs and caches of apt, dpkg
# and PackageKit (which an apt hook of the host's wakes).
BOOKKEEPING = ("var/lib/dpkg/", "var/lib/apt/", "var/cache/apt/", "var/cache/man/", "var/cache/debconf/",
               "var/log/apt/", "var/log/dpkg.log", "var/lib/PackageKit/")


def gained_files():
    upper = LAYERS / "changes/upper"
    gained = set()
    for folder, folders, files in os.walk(upper):
        for path in (Path(folder, name) for name in folders + files):
            relative = path.relative_to(upper)
            # A character device in the upper layer is a whiteout: a file deleted.
            if not path.is_char_device() and not os.path.lexists(LAYERS / "lower" / relative):
                gained.add(f"{relative}/" if path.is_dir() else str(relative))
    return {path for path in gained if not path.startswith(BOOKKEEPING)}


async def apt_get(rig, *arguments):
    process = await asyncio.create_subprocess_exec(
        "apt-get", "--yes", *arguments, cwd=rig.results_dir, stdin=asyncio.subprocess.DEVNULL,
        stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT,
        env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    async for line in process.stdout:
        rig.log("apt", line.decode(errors="replace").rstrip())
    assert await process.wait() == 0, f"apt-get {' '.join(arguments)} failed (its output is in the transcript)"


async def install_present_purge(rig):
    # man-db's trigger would index every man page over 9p under emulation:
    # minutes for each install and purge.
    Path("/var/lib/man-db/auto-update").unlink(missing_ok=True)
    before = gained_files()
    await apt_get(rig, "install", "./" + next(rig.results_dir.glob("orbilatch_*.deb")).name)

    load_uinput()
    with UserSession(rig) as session:
        os.chown("/dev/uinput", UID, 0)  # what logind's uaccess gives the user at the seat
        await present_as_a_service(rig, session)

    await apt_get(rig, "purge", "orbilatch")
    left = gained_files() - before
    assert not left, f"left behind by the purge: {sorted(left)}"


async def until(what, condition, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if await asyncio.to_thread(condition):
            return
        await asyncio.sleep(0.2)
    raise AssertionError(f"{what} within {timeout} s")


async def present_as_a_service(rig, session):
    check = session.run("orbilatch-present", "--check")
    assert check.returncode == 0, f"--check says the presenter cannot present:\n{check.stdout}"
    verify = session.run("systemd-analyze", "--user", "verify", "/usr/lib/systemd/user/orbilatch-present.service")
    assert verify.returncode == 0 and not verify.stderr, f"systemd-analyze --user verify: {verify.stderr}"
    session.systemctl("enable", "orbilatch-present")

    async def log_in():
        await asyncio.to_thread(session.start_desktop)
    watch = rig.watch("hci1")
    await watch.connect(on_scanning=log_in)
    assert watch.device.address == AGENT_ADDRESS, f"the agent is on {watch.device.address}, not hci0"
    await watch.subscribe()
    journal = lambda: session.journal("orbilatch-present.service")  # noqa: E731
    await until("no \"watch connected\" in the journal", lambda: any("| watch connected |" in line for line in journal()))
    await every_command_presses_its_key(rig, watch)

    await asyncio.to_thread(session.end_desktop)
    await until("the presenter did not stop with the session",
                lambda: session.systemctl("is-active", "orbilatch-present") == "inactive")
    for line in journal():
        rig.log("journal", line)
    ended = session.systemctl("show", "--property=Result,ExecMainStatus,NRestarts", "orbilatch-present")
    assert sorted(ended.split()) == ["ExecMainStatus=0", "NRestarts=0", "Result=success"], ended
