"""Runs the agent the way a controller does: pipes on all three streams, one
JSON line per event, one line per diagnostic, each line stamped with the time
it arrived."""

import json
import os
import queue
import signal
import subprocess
import threading
import time

AGENT = os.environ.get("ORBILATCH_AGENT", "build/orbilatch-agent")
DEFAULT_TIMEOUT = 10.0


class Line(bytes):
    """One line of output exactly as written (it is bytes and compares as bytes),
    with `arrived_ns`: time.monotonic_ns() when the reader took it from the pipe."""

    def __new__(cls, data, arrived_ns):
        line = super().__new__(cls, data)
        line.arrived_ns = arrived_ns
        return line


class AgentProcess:
    def __init__(self, env=None, stdin=subprocess.PIPE):
        full_env = dict(os.environ)
        full_env.update(env or {})
        self.process = subprocess.Popen(
            [AGENT], stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env)
        self.stdout_lines = queue.Queue()
        self.stderr_lines = queue.Queue()
        # Called on the reader's thread with each event line as it arrives,
        # for what must happen sooner than a test's own loop would see it.
        self.on_event_line = None
        self._readers = [
            threading.Thread(target=self._pump, args=(self.process.stdout, self.stdout_lines, True), daemon=True),
            threading.Thread(target=self._pump, args=(self.process.stderr, self.stderr_lines, False), daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    def _pump(self, stream, lines, events):
        for raw in iter(stream.readline, b""):
            line = Line(raw, time.monotonic_ns())
            if events and self.on_event_line:
                self.on_event_line(line)
            lines.put(line)
        lines.put(None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()

    def kill(self):
        """Ends the agent if it still runs; every line it wrote is then queued."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for reader in self._readers:
            reader.join()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if stream:
                stream.close()

    def send_line(self, text):
        data = text if isinstance(text, bytes) else text.encode()
        self.process.stdin.write(data if data.endswith(b"\n") else data + b"\n")
        self.process.stdin.flush()

    def send(self, message):
        self.send_line(json.dumps(message))

    def close_stdin(self):
        self.process.stdin.close()

    def signal(self, signum=signal.SIGTERM):
        self.process.send_signal(signum)

    def next_raw_line(self, timeout=DEFAULT_TIMEOUT):
        """The next stdout line exactly as written, or None at end of output."""
        return self.stdout_lines.get(timeout=timeout)

    def next_event(self, timeout=DEFAULT_TIMEOUT):
        line = self.next_raw_line(timeout)
        if line is None:
            raise AssertionError("agent closed its standard output")
        return json.loads(line)

    def expect_event(self, expected, timeout=DEFAULT_TIMEOUT):
        event = self.next_event(timeout)
        if event != expected:
            raise AssertionError(f"expected event {expected}, got {event}")
        return event

    def next_diagnostic(self, timeout=DEFAULT_TIMEOUT):
        line = self.stderr_lines.get(timeout=timeout)
        if line is None:
            raise AssertionError("agent closed its standard error")
        return line.decode().rstrip("\n")

    def expect_diagnostic(self, expected, timeout=DEFAULT_TIMEOUT):
        line = self.next_diagnostic(timeout)
        if line != expected:
            raise AssertionError(f"expected diagnostic {expected!r}, got {line!r}")

    def assert_no_output(self, within=0.3):
        """Nothing more on either stream for a short while."""
        deadline = time.monotonic() + within
        for lines in (self.stdout_lines, self.stderr_lines):
            try:
                line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                continue
            if line is not None:
                raise AssertionError(f"unexpected output {line!r}")

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        return self.process.wait(timeout=timeout)

    def is_running(self):
        return self.process.poll() is None
