#!/usr/bin/python3
"""Takes the agent's place as orbilatch-present's child: the test's lines, from
the Unix socket it names in ORBILATCH_STAND_IN_SOCKET, go to standard output,
and the presenter's lines go back to the test."""

import json
import os
import socket
import sys
import threading
import time

test = socket.socket(socket.AF_UNIX)
test.connect(os.environ["ORBILATCH_STAND_IN_SOCKET"])


def to_presenter():
    for line in test.makefile("rb"):
        sys.stdout.buffer.write(line)
        sys.stdout.flush()


threading.Thread(target=to_presenter, daemon=True).start()
for line in sys.stdin.buffer:
    test.sendall(line)
    if json.loads(line).get("type") == "shutdown":
        time.sleep(0.05)
        break
