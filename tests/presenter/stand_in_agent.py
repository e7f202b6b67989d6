#!/usr/bin/python3
"""Stands in for orbilatch-agent under the presenter: writes a recorded
session's event lines at once, then records every line it reads, one JSON
object per line, in the file ORBILATCH_STAND_IN_RECORD, after a first line
with its pid. ORBILATCH_STAND_IN_END says how it ends:

    shutdown  on {"type":"shutdown"}: the shutdown event, then exit 0
    ignore    never exits by itself
    die       exits with status 3 once every command was acknowledged

SIGTERM is recorded and ends it with status 0."""

import json
import os
import signal
import sys
from pathlib import Path

SESSION = Path(__file__).with_name("session.jsonl")
SHUTDOWN = '{"type":"ble_state_changed","state":"disconnected","message":"shutdown"}'


def main():
    record = open(os.environ["ORBILATCH_STAND_IN_RECORD"], "a", buffering=1)
    end = os.environ.get("ORBILATCH_STAND_IN_END", "shutdown")

    def on_sigterm(*_):
        record.write(json.dumps({"signal": "SIGTERM"}) + "\n")
        os._exit(0)

    signal.signal(signal.SIGTERM, on_sigterm)
    record.write(json.dumps({"pid": os.getpid()}) + "\n")
    session = SESSION.read_text()
    commands = session.count('"command_received"')
    sys.stdout.write(session)
    sys.stdout.flush()

    acknowledged = 0
    for line in sys.stdin:
        record.write(line if line.endswith("\n") else line + "\n")
        message = json.loads(line)
        acknowledged += message.get("type") == "command_acknowledgement"
        if end == "die" and acknowledged == commands:
            sys.exit(3)
        if end == "shutdown" and message.get("type") == "shutdown":
            print(SHUTDOWN, flush=True)
            return 0
    signal.pause()


if __name__ == "__main__":
    sys.exit(main())
