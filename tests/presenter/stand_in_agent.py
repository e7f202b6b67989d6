#!/usr/bin/python3
"""Stands in for orbilatch-agent as orbilatch-present's child, passing lines both ways to the test at
ORBILATCH_STAND_IN_SOCKET (to stderr those the test begins with "stderr: "); exits 0 on {"type":"shutdown"}
(unless ORBILATCH_STAND_IN_DEAF is set), 3 when the test hangs up. Imported: `Presenter`."""

import json
import os
import socket
import sys
import threading

from agent_events import ADVERTISING, CONNECTED, SHUTDOWN_REQUEST, WATCH_CONNECTED, acknowledgement, received

if __name__ != "__main__":  # imported with tests/ on the path
    from desktop.harness import wait_for

PRESENT = os.environ.get("ORBILATCH_PRESENT", "../build/orbilatch-present")


class Presenter:
    """orbilatch-present on a harness.Desktop with the stand-in as its agent and
    a watch connected. `terminal` (an xterm geometry) shows its status line.
    Unless `notify`, no desktop notification comes up on the test's screen."""

    def __init__(self, desktop, options=(), terminal=None, settle=lambda: None, env=(), notify=False, **popen):
        self.desktop, self.settle, self.count = desktop, settle, 0
        path = f"{desktop.dir}/agent{len(desktop.processes)}.sock"  # one for each presenter on the desktop
        listener = socket.create_server(path, family=socket.AF_UNIX)
        listener.settimeout(30)
        command = [PRESENT, "--keyboard", "xtest", "--agent", os.path.abspath(__file__), *options]
        command += [] if notify else ["--no-notify"]
        if terminal:
            command = ["xterm", "-geometry", terminal, "-fa", "Monospace", "-fs", "11", "-e", "sh", "-c",
                       f'"$@" 2>>{desktop.dir}/orbilatch-present.log', "sh", *command]
        env = {"ORBILATCH_STAND_IN_SOCKET": path, **dict(env)}
        self.process = desktop.start(command, env=env, **popen)
        self.connection, _ = listener.accept()
        self.connection.settimeout(20)
        self.lines = self.connection.makefile("rb")
        self.send(ADVERTISING, WATCH_CONNECTED, CONNECTED)

    def send(self, *events):
        self.connection.sendall(b"".join(json.dumps(event).encode() + b"\n" for event in events))

    def read(self):
        """The presenter's next line to its agent, or None once the stand-in is gone."""
        line = self.lines.readline()
        return json.loads(line) if line else None

    def command(self, command):
        """Sends one command from the watch, in version 2; returns its commandId."""
        self.count += 1
        self.send(received(2, str(self.count), command))
        return str(self.count)

    def answered(self, command_id, error=None):
        """Reads the acknowledgement of the command: `executed`, or failed with the code `error`."""
        ack = self.read()
        if ack != acknowledgement(command_id, 2, "failed" if error else "executed", error):
            said = self.desktop.log("orbilatch-present")
            raise AssertionError(f"{command_id}: {ack}; orbilatch-present said:\n{said}")

    def tap(self, command, probe=None, expected=None, error=None):
        """One command from the watch, after `settle()`: acknowledged `executed` (or failed with the code
        `error`), then `probe()` is `expected`."""
        self.settle()
        self.answered(self.command(command), error)
        if probe:
            wait_for(f"after {command}", probe, expected)


if __name__ == "__main__":
    test = socket.socket(socket.AF_UNIX)
    test.connect(os.environ["ORBILATCH_STAND_IN_SOCKET"])

    def from_test():
        for line in test.makefile("rb"):
            stream = sys.stderr if line.startswith(b"stderr: ") else sys.stdout
            stream.buffer.write(line.removeprefix(b"stderr: "))
            stream.flush()
        os._exit(3)
    threading.Thread(target=from_test, daemon=True).start()
    for line in sys.stdin.buffer:
        test.sendall(line)
        if json.loads(line) == SHUTDOWN_REQUEST and "ORBILATCH_STAND_IN_DEAF" not in os.environ:
            os._exit(0)
    # Unlike the agent it outlives its input, so that when the presenter is
    # killed only the parent-death signal ends it.
    threading.Event().wait()
