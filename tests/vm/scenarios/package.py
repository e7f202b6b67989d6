"""The Debian package as a user meets it: apt installs it, the installed
orbilatch-present presses the key of every command the watch taps, and a
purge leaves no file behind. The boot's root is an overlay (the plan's
writable_root), so every file the root gained is in its upper layer and not
in the lower one."""

import asyncio
import os
from pathlib import Path

from presenter import every_command_presses_its_key

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

    await every_command_presses_its_key(rig, "/usr/bin/orbilatch-present")

    await apt_get(rig, "purge", "orbilatch")
    left = gained_files() - before
    assert not left, f"left behind by the purge: {sorted(left)}"
