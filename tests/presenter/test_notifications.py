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
DUNSTRC = "[urgency_normal]\ntimeout = 0\n[urgency_critical]\ntimeout = 0\n[record]\nappname = *\nscript = {}\n"
# dunst runs it for each notification it shows, replacements too, several at a time.
RECORD = '#!/bin/sh\nprintf "%s\\t%s\\t%s\\t%s\\t%s\\n" "$DUNST_TIMESTAMP" "$DUNST_ID" "$DUNST_URGENCY" \
"$DUNST_SUMMARY" "$DUNST_BODY" >>{}\n'
# A session bus on which nothing can be started: no notification server.
BARE_BUS = """<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>"""
FAILING = received(2, "7", "ZOOM_IN")


class Notifications(unittest.TestCase):
    def stop(self, presenter):
        presenter.process.send_signal(signal.SIGINT)
        self.assertEqual(presenter.process.wait(10), 0)

    def test_each_change_replaces_the_one_before_and_the_last_one_goes_out_before_the_end(self):
        import dbus
        with Desktop() as desktop:
            for name, text in (("record", RECORD.format(f"{desktop.dir}/shown")), ("dunstrc", DUNSTRC.format(
                    f"{desktop.dir}/record"))):
                with open(f"{desktop.dir}/{name}", "w") as file:
                    file.write(text)
            os.chmod(f"{desktop.dir}/record", 0o755)
            desktop.start(["dunst", "-config", f"{desktop.dir}/dunstrc"])
            bus = dbus.bus.BusConnection(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
            wait_for("dunst on the bus", lambda: bus.name_has_owner(NAME) or None)
            told = []

            def shown():
                """What dunst showed so far, in order: [time, id, urgency, summary, body] each."""
                try:
                    with open(f"{desktop.dir}/shown") as file:
                        return sorted((line.split("\t") for line in file.read().splitlines()), key=lambda r: int(r[0]))
                except FileNotFoundError:
                    return []

            def expect(*notice):
                """The next one shown: its urgency, summary and, where given, body."""
                told.append(wait_for(notice[1], lambda: shown()[len(told):] or None)[0])
                self.assertEqual(tuple(told[-1][2:2 + len(notice)]), notice)

            presenter = Presenter(desktop, notify=True)  # no terminal: on without being asked
            expect("NORMAL", "Watch connected")
            for event, urgency, summary in ((POWERED_OFF, "CRITICAL", "Bluetooth is off"),
                                            (ADVERTISING, "NORMAL", "Bluetooth is back"),
                                            (WATCH_DISCONNECTED, "NORMAL", "Watch left")):
                presenter.send(event)
                expect(urgency, summary)
            presenter.send(FAILING)
            self.assertEqual(presenter.read(), acknowledgement("7", 2, "failed", "UNKNOWN_COMMAND"))
            expect("NORMAL", "ZOOM_IN failed", "no such command: ZOOM_IN")
            self.assertEqual({row[1] for row in told}, {told[0][1]}, "each one replaces the one before")
            self.assertEqual(bus.get_object(NAME, "/org/freedesktop/Notifications").Get(
                "org.dunstproject.cmd0", "displayedLength", dbus_interface="org.freedesktop.DBus.Properties"), 1)
            self.stop(presenter)

            self.assertEqual(desktop.start([PRESENT, "--keyboard", "xtest"], env={"DISPLAY": ""}).wait(10), 2)
            expect("CRITICAL", "Keys cannot be pressed")

    def test_off_on_a_terminal_and_with_no_notify_where_the_session_bus_is_never_opened(self):
        # On, the bus is one that never answers, which must not hold the presenter's end up.
        for notify, terminal, opens in ((True, True, False), (False, False, False), (True, False, True)):
            with Desktop() as desktop, socket.socket(socket.AF_UNIX) as bus:
                bus.bind(f"{desktop.dir}/bus")
                bus.listen()
                bus.setblocking(False)
                screen, stdout = pty.openpty() if terminal else (None, subprocess.DEVNULL)
                presenter = Presenter(desktop, notify=notify, stdout=stdout,
                                      env={"DBUS_SESSION_BUS_ADDRESS": f"unix:path={desktop.dir}/bus"})
                presenter.send(FAILING)
                presenter.read()
                self.stop(presenter)
                try:
                    bus.accept()[0].close()
                    opened = True
                except BlockingIOError:
                    opened = False
                self.assertEqual(opened, opens, (notify, terminal))
                if terminal:
                    os.close(screen)
                    os.close(stdout)

    def test_without_a_server_or_a_session_bus_one_line_then_nothing(self):
        with tempfile.NamedTemporaryFile("w", suffix=".conf") as config:
            config.write(BARE_BUS)
            config.flush()
            bare = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1", f"--config-file={config.name}"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.addCleanup(bare.wait)
            self.addCleanup(bare.terminate)
            bare_bus = bare.stdout.readline().decode().strip()
        for address, why in ((bare_bus, f"The name {NAME} was not provided by any .service files"),
                             ("unix:path=/nonexistent", "cannot connect to the session bus: No such file")):
            with Desktop() as desktop:
                presenter = Presenter(desktop, notify=True, env={"DBUS_SESSION_BUS_ADDRESS": address})
                wait_for(why, lambda: why in desktop.log("orbilatch-present") or None)
                presenter.send(POWERED_OFF, ADVERTISING, FAILING)
                self.assertEqual(presenter.read(), acknowledgement("7", 2, "failed", "UNKNOWN_COMMAND"))
                self.stop(presenter)
                self.assertEqual(desktop.log("orbilatch-present").count("no desktop notifications"), 1)
