"""LibreOffice Impress driven through its remote control by the Impress route,
set up as a user does once (enabled, and the route paired) in a private
profile: each command's answer and the route's show, against the screen."""

import os
import select
import signal
import subprocess
import unittest

from desktop.harness import COLOURS, Desktop, require, wait_for, write_deck

require(["Xvfb", "soffice", "ss"], ["Xlib", "PIL"])
from Xlib import error  # noqa: E402

ROUTE = os.environ.get("ORBILATCH_IMPRESS_ROUTE", "../build/tests/impress_route")
PIN = "2468"
PROFILE = f"""<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry">
<item oor:path="/org.openoffice.Office.Impress/Misc/Start"><prop oor:name="EnableSdremote" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Impress/Misc/AuthorisedRemotes"><node oor:name="orbilatch-present" oor:op="replace"><prop oor:name="PIN" oor:op="fuse"><value>{PIN}</value></prop></node></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
"""


def on_port(*state):
    """Sockets on the remote control's port: its listener, connections, a TIME-WAIT."""
    return subprocess.run(["ss", "-Htanp", *state, "( sport = :1599 or dport = :1599 )"],
                          capture_output=True, text=True, check=True).stdout


class ImpressRemote(unittest.TestCase):
    def test_each_command_is_answered_as_the_show_on_the_screen_went(self):
        # Another LibreOffice on this machine, or one that quit a moment ago, holds the port.
        wait_for("port 1599 free", lambda: on_port() == "", True, timeout=150)
        with Desktop(1280, 720) as desktop:
            write_deck(f"{desktop.dir}/deck.pdf")
            os.makedirs(f"{desktop.dir}/lo/user")
            with open(f"{desktop.dir}/lo/user/registrymodifications.xcu", "w") as profile:
                profile.write(PROFILE)
            os.makedirs(f"{desktop.dir}/config/orbilatch")
            with open(f"{desktop.dir}/config/orbilatch/impress-pin", "w") as pin:
                pin.write(PIN + "\n")
            office = desktop.start(["soffice", "--norestore", "--nologo", "--nolockcheck", "--infilter=impress_pdf_import",
                                    f"-env:UserInstallation=file://{desktop.dir}/lo", f"{desktop.dir}/deck.pdf"])
            listener = wait_for("Impress's remote control", lambda: on_port("state", "listening") or None, timeout=90)
            self.assertIn("soffice", listener)  # and not another user's

            def drawn():
                """A show started before Impress has drawn the deck stays grey and takes no command."""
                colours = desktop.grab().getcolors(1 << 24)
                return sum(n for n, c in colours if sum(abs(a - b) for a, b in zip(c, COLOURS[0])) < 6) > 100000 or None
            wait_for("the first slide in Impress's editor", drawn, timeout=60)
            route = desktop.start([ROUTE], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            for pipe in (route.stdin, route.stdout):
                self.addCleanup(pipe.close)

            def seen():
                """The slide on the screen, 0 when it is black, or "ended" without a show window."""
                try:
                    if not [w for w in desktop.root.query_tree().children
                            if "Presenting:" in (w.get_wm_name() or "") and w.get_attributes().map_state]:
                        return "ended"
                except error.BadWindow:
                    return None
                colour = desktop.colour(0, 0, 320, 180)
                colours = [(0, 0, 0), *COLOURS]
                return min(range(len(colours)), key=lambda n: sum((a - b) ** 2 for a, b in zip(colours[n], colour)))

            def command(name, answer, screen):
                route.stdin.write(name.encode() + b"\n")
                route.stdin.flush()
                self.assertTrue(select.select([route.stdout], [], [], 20)[0], f"{name}: no answer")
                self.assertEqual(route.stdout.readline().decode().split(), answer.split(), name)
                wait_for(f"the screen after {name}", seen, screen)

            command("NEXT_SLIDE", "PRESENTATION_ENDED stopped", "ended")
            command("START_PRESENTATION", "executed 1/5", 1)
            command("END_PRESENTATION", "executed stopped", "ended")
            # The first show after LibreOffice started takes longest to settle.
            command("START_PRESENTATION", "executed 1/5", 1)
            command("NEXT_SLIDE", "executed 2/5", 2)  # held until the show has settled
            command("PREVIOUS_SLIDE", "executed 1/5", 1)
            command("PREVIOUS_SLIDE", "AT_FIRST_SLIDE 1/5", 1)
            command("TOGGLE_BLACK_SCREEN", "NOT_CONFIRMED 1/5", 0)
            command("NEXT_SLIDE", "executed 2/5", 2)
            command("TOGGLE_BLACK_SCREEN", "NOT_CONFIRMED 2/5", 0)
            command("TOGGLE_BLACK_SCREEN", "executed 2/5", 2)
            command("START_PRESENTATION", "executed 2/5", 2)
            command("END_PRESENTATION", "executed stopped", "ended")
            command("PREVIOUS_SLIDE", "PRESENTATION_ENDED stopped", "ended")

            # A LibreOffice that quits while the route is connected leaves the port free for the next
            # one: its end of the connection would otherwise wait in TIME-WAIT for a minute.
            os.killpg(office.pid, signal.SIGTERM)
            office.wait(30)
            wait_for("port 1599 free after LibreOffice", lambda: on_port() == "", True, timeout=40)
            command("NEXT_SLIDE", "PRESENTATION_ENDED unknown", "ended")
