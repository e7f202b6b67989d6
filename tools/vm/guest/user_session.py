"""A desktop user's systemd in the guest: a user of our own, the journal, and
`systemd --user` where user@.service would put it, so that user units run
as on a desktop. The guest's PID 1 is a shell script and no systemd runs, yet
a user manager does once cgroup2 is mounted, /run/systemd/system exists (what
sd_booted() looks for), the user has a runtime folder and the manager starts
in a cgroup of its own that the user owns. There is no logind and no udev:
whatever they would give the user at the seat, the scenario gives by hand.

Everything it writes is on tmpfs or bound over the root for the session only,
so a writable root gains nothing from it."""

import os
import subprocess
import time
from pathlib import Path

USER, UID = "presenter", 1990
HOME = Path("/tmp/presenter-home")
RUNTIME = Path(f"/run/user/{UID}")
CGROUP = Path(f"/sys/fs/cgroup/user.slice/user-{UID}.slice/user@{UID}.service")
SCRATCH = Path("/run/orbilatch/user-session")
# A stand-in for a desktop's own session target, such as GNOME's: it pulls
# graphical-session.target up, and takes it down when it stops.
DESKTOP_TARGET = "[Unit]\nDescription=A desktop's session\nBindsTo=graphical-session.target\n"


def _wait_for(path, what):
    for _ in range(300):
        if path.exists():
            return
        time.sleep(0.1)
    raise AssertionError(f"no {what} within 30 s")


class UserSession:
    """with UserSession(rig) as session: session.run("systemctl", "--user", ...)"""

    def __init__(self, rig):
        self.rig = rig
        self.processes = []
        self.mounts = []
        self.environment = {"HOME": str(HOME), "USER": USER, "XDG_RUNTIME_DIR": str(RUNTIME),
                            "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}

    def __enter__(self):
        try:
            self._make_user()
            self._start_journald()
            self._start_manager()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        for target in reversed(self.mounts):
            subprocess.run(["umount", target], check=True)

    def _mount(self, *arguments):
        subprocess.run(["mount", *arguments], check=True)
        self.mounts.append(arguments[-1])

    def _make_user(self):
        SCRATCH.mkdir(parents=True, exist_ok=True)
        for name, line in (("passwd", f"{USER}:x:{UID}:{UID}::{HOME}:/bin/sh\n"), ("group", f"{USER}:x:{UID}:\n")):
            copy = SCRATCH / name
            copy.write_text(Path(f"/etc/{name}").read_text() + line)
            self._mount("--bind", str(copy), f"/etc/{name}")
        for folder in (HOME, RUNTIME):
            folder.mkdir(parents=True, mode=0o700, exist_ok=True)
            os.chown(folder, UID, UID)

    def _start_journald(self):
        # journald needs the cgroup tree ("Failed to acquire cgroup root path").
        if not Path("/sys/fs/cgroup/cgroup.controllers").exists():
            self._mount("-t", "cgroup2", "cgroup2", "/sys/fs/cgroup")
        if Path("/var/log/journal").is_dir():
            self._mount("-t", "tmpfs", "tmpfs", "/var/log/journal")
        self._start("journald", ["/usr/lib/systemd/systemd-journald"])
        _wait_for(Path("/run/systemd/journal/stdout"), "journal")

    def _start_manager(self):
        Path("/run/systemd/system").mkdir(parents=True, exist_ok=True)
        CGROUP.mkdir(parents=True, exist_ok=True)
        for path in [CGROUP, *CGROUP.iterdir()]:
            os.chown(path, UID, UID)
        self._start("user-manager", self.as_user("/usr/lib/systemd/systemd", "--user"),
                    preexec_fn=lambda: (CGROUP / "cgroup.procs").write_text(str(os.getpid())))
        _wait_for(RUNTIME / "systemd/private", "user manager")
        units = HOME / ".config/systemd/user"
        units.mkdir(parents=True, exist_ok=True)
        (units / "desktop-session.target").write_text(DESKTOP_TARGET)
        for path in [HOME / ".config", HOME / ".config/systemd", units, *units.iterdir()]:
            os.chown(path, UID, UID)

    def _start(self, name, command, **options):
        with open(self.rig.results_dir / f"{name}.log", "ab") as log:
            self.processes.append(subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                                   stderr=subprocess.STDOUT, **options))

    def as_user(self, *command):
        return ["setpriv", f"--reuid={UID}", f"--regid={UID}", "--clear-groups", "env", "-i",
                *(f"{key}={value}" for key, value in self.environment.items()), *command]

    def run(self, *command, timeout=60):
        """The command as the user, in the session's environment; its output in the transcript."""
        done = subprocess.run(self.as_user(*command), stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=timeout)
        self.rig.log("user", f"$ {' '.join(command)}: exit {done.returncode}")
        for line in (done.stdout + done.stderr).splitlines():
            self.rig.log("user", f"  {line}")
        return done

    def systemctl(self, *arguments):
        return self.run("systemctl", "--user", *arguments).stdout.strip()

    def start_desktop(self):
        self.systemctl("start", "desktop-session.target")

    def end_desktop(self):
        # As GNOME's logout does (its shutdown target conflicts with it): the
        # graphical session ends at once, not when the manager finds it unneeded.
        self.systemctl("stop", "desktop-session.target", "graphical-session.target")

    def journal(self, unit):
        """The lines a user unit wrote, read as root (--user-unit as root would match root's own)."""
        done = subprocess.run(["journalctl", "--no-pager", "-o", "cat", f"_SYSTEMD_USER_UNIT={unit}"],
                              capture_output=True, text=True)
        return done.stdout.splitlines()
