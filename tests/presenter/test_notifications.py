"""orbilatch-present's desktop notifications as a real server receives them: dunst on the test's Xvfb and session
bus records each one it shows. Each replaces the one before, also the last one before the presenter ends; they are
on without a terminal, off on one and with --no-notify; without a server one diagnostic line, then nothing."""

import os
import pty
import signal
import socket
import subprocess
import tempfile
import unittest

from desktop.harness import Desktop, require, wait_for
from presenter.stand_in_agent import PRESENT, Presenter
from agent_events import ADVERTISING, POWERED_OFF, WATCH_DISCONNECTED, acknowledgement, received

require(["Xvfb", "dunst", "dbus-daemon"], ["Xlib", "dbus"])

NAME = "org.freedesktop.Notifications"
# dunst runs the script for each notification it shows, replacements too, several at a time.
DUNSTRC = "[urgency_normal]\ntimeout = 0\n[urgency_critical]\ntimeout = 0\n[record]\nappname = *\nscript = {}\n"
RECORD = '#!/bin/sh\necho "$DUNST_TIMESTAMP\t$DUNST_ID\t$DUNST_URGENCY\t$DUNST_SUMMARY\t$DUNST_BODY" >>{}\n'
# A session bus on which nothing can be started: no notification server.
BARE_BUS = """<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth><policy
context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>"""
FAILING, FAILED = received(2, "7", "ZOOM_IN"), acknowledgement("7", 2, "failed", "UNKNOWN_COMMAND")


class Notifications(unittest.TestCase):
    def present(self, presenter, *events):
        """The events and a failing command for the presenter, then its stop."""
        presenter.send(*events, FAILING)
        self.assertEqual(presenter.read(), FAILED)
        self.stop(presenter)

    def stop(self, presenter):
        presenter.process.send_signal(signal.SIGINT)
        self.assertEqual(presenter.process.wait(10), 0)

    def test_each_change_replaces_the_one_before_and_the_last_one_goes_out_before_the_end(self):
        import dbus
        with Desktop() as desktop:
            files = {"record": RECORD.format(f"{desktop.dir}/shown"), "dunstrc": DUNSTRC.format(f"{desktop.dir}/record")}
            for name, text in files.items():
                with open(f"{desktop.dir}/{name}", "w") as file:
                    file.write(text)
            os.chmod(f"{desktop.dir}/record", 0o755)
            desktop.start(["dunst", "-config", f"{desktop.dir}/dunstrc"])
            bus = dbus.bus.BusConnection(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
            wait_for("dunst on the bus", lambda: bus.name_has_owner(NAME) or None)

            def shown():
                """[time, id, urgency, summary, body] of each one shown, in the order shown."""
                if not os.path.exists(f"{desktop.dir}/shown"):
                    return []
                with open(f"{desktop.dir}/shown") as file:
                    return sorted((line.split("\t") for line in file.read().splitlines()), key=lambda r: int(r[0]))
            presenter = Presenter(desktop, notify=True)  # no terminal: on without being asked
            for events, *notice in (([], "NORMAL", "Watch connected"), ([POWERED_OFF], "CRITICAL", "Bluetooth is off"),
                                    # the second change comes while the first one is on its way, and takes its place
                                    ([WATCH_DISCONNECTED, ADVERTISING], "NORMAL", "Bluetooth is back"),
                                    ([FAILING], "NORMAL", "ZOOM_IN failed", "no such command: ZOOM_IN"),
                                    (None, "CRITICAL", "Keys cannot be pressed")):
                if events is None:  # a presenter that cannot start: its notice is out before it ends
                    self.stop(presenter)
                    self.assertEqual(desktop.start([PRESENT, "--keyboard", "xtest"], env={"DISPLAY": ""}).wait(10), 2)
                else:
                    presenter.send(*events)
                wait_for(notice[1], lambda: shown() and shown()[-1][2:2 + len(notice)] == notice or None)
            rows = shown()
            self.assertEqual(len({row[1] for row in rows[:-1]}), 1, "each one replaces the one before")
            self.assertEqual(bus.get_object(NAME, "/org/freedesktop/Notifications").Get(
                "org.dunstproject.cmd0", "displayedLength", dbus_interface="org.freedesktop.DBus.Properties"), 2)

    def test_off_on_a_terminal_and_with_no_notify_and_without_a_server_or_a_bus_one_line_then_nothing(self):
        with tempfile.NamedTemporaryFile("w", suffix=".conf") as config:
            config.write(BARE_BUS)
            config.flush()
            bare = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1", f"--config-file={config.name}"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.addCleanup(bare.wait)
            self.addCleanup(bare.terminate)
            bare_bus = bare.stdout.readline().decode().strip()
        # No address: a bus that never answers, which must not hold the presenter's end up where it is opened.
        for address, notify, terminal, line in (
                (None, True, True, None), (None, False, False, None), (None, True, False, None),
                (bare_bus, True, False, f"The name {NAME} was not provided by any .service files"),
                ("unix:path=/nonexistent", True, False, "cannot connect to the session bus: No such file")):
            with Desktop() as desktop, socket.socket(socket.AF_UNIX) as silent:
                silent.bind(f"{desktop.dir}/bus")
                silent.listen()
                silent.setblocking(False)
                screen, stdout = pty.openpty() if terminal else (-1, subprocess.DEVNULL)
                presenter = Presenter(desktop, notify=notify, stdout=stdout,
                                      env={"DBUS_SESSION_BUS_ADDRESS": address or f"unix:path={desktop.dir}/bus"})
                if line:
                    wait_for(line, lambda: line in desktop.log("orbilatch-present") or None)
                self.present(presenter, POWERED_OFF, ADVERTISING)
                self.assertEqual(desktop.log("orbilatch-present").count("no desktop notifications"), bool(line))
                if address is None:  # the programs' connection, and the notifications' where they are on
                    for _ in range(1 + (notify and not terminal)):
                        silent.accept()[0].close()
                    self.assertRaises(BlockingIOError, silent.accept)
                if terminal:
                    os.close(screen)
                    os.close(stdout)
