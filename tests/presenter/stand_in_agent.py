#!/usr/bin/python3
"""Stands in for orbilatch-agent as orbilatch-present's child, played by the
test at the other end of the Unix socket ORBILATCH_STAND_IN_SOCKET: what the
test sends goes to standard output, what the presenter writes goes back to the
test. It exits 0 on {"type":"shutdown"} (unless ORBILATCH_STAND_IN_DEAF is
set) and 3 when the test hangs up. Imported, `Agent` is the test's end."""

import json
import os
import socket
import sys
import threading

SOCKET = "ORBILATCH_STAND_IN_SOCKET"
PATH = os.path.abspath(__file__)


class Agent:
    def __init__(self, directory):
        self.listener = socket.socket(socket.AF_UNIX)
        self.listener.bind(f"{directory}/agent.sock")
        self.listener.listen(1)
        self.listener.settimeout(30)
        self.env = {SOCKET: f"{directory}/agent.sock"}

    def accept(self):
        """Once the presenter has started its agent."""
        self.connection, _ = self.listener.accept()
        self.connection.settimeout(20)
        self.lines = self.connection.makefile("rb")

    def send(self, *events):
        self.connection.sendall(b"".join(json.dumps(event).encode() + b"\n" for event in events))

    def read(self):
        """The presenter's next line, or None once the stand-in is gone."""
        try:
            line = self.lines.readline()
        except ConnectionResetError:  # gone before it read all the test sent
            return None
        return json.loads(line) if line else None

    def hang_up(self):
        self.connection.shutdown(socket.SHUT_WR)


def from_test(test):
    for line in test.makefile("rb"):
        sys.stdout.buffer.write(line)
        sys.stdout.flush()
    os._exit(3)


if __name__ == "__main__":
    test = socket.socket(socket.AF_UNIX)
    test.connect(os.environ[SOCKET])
    threading.Thread(target=from_test, args=(test,), daemon=True).start()
    for line in sys.stdin.buffer:
        test.sendall(line)
        if json.loads(line).get("type") == "shutdown" and "ORBILATCH_STAND_IN_DEAF" not in os.environ:
            os._exit(0)
    # Unlike the agent it outlives its input, so that when the presenter is
    # killed only the parent-death signal ends it.
    threading.Event().wait()
