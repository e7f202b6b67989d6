"""LibreOffice Impress driven by orbilatch-present through its remote control,
set up as a user does once (enabled, and the presenter paired) in a private
profile: what the watch hears for each command, against the screen, and the
slide the status line shows."""

import os
import re
import signal
import subprocess
import unittest

from desktop.harness import COLOURS, Desktop, require, wait_for, write_deck
from presenter.stand_in_agent import Presenter

require(["Xvfb", "soffice", "ss"], ["Xlib", "PIL"])
from Xlib import error  # noqa: E402

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
            watch = Presenter(desktop, ["--app", "impress"], stdout=subprocess.PIPE)

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

            watch.tap("NEXT_SLIDE", seen, "ended", "PRESENTATION_ENDED")
            watch.tap("START_PRESENTATION", seen, 1)
            watch.tap("END_PRESENTATION", seen, "ended")
            # The first show after LibreOffice started takes longest to settle.
            watch.tap("START_PRESENTATION", seen, 1)
            watch.tap("NEXT_SLIDE", seen, 2)  # held until the show has settled
            watch.tap("PREVIOUS_SLIDE", seen, 1)
            watch.tap("TOGGLE_BLACK_SCREEN", seen, 0, "NOT_CONFIRMED")
            watch.tap("NEXT_SLIDE", seen, 2)
            watch.tap("TOGGLE_BLACK_SCREEN", seen, 0, "NOT_CONFIRMED")
            watch.tap("TOGGLE_BLACK_SCREEN", seen, 2)
            watch.tap("END_PRESENTATION", seen, "ended")

            # A LibreOffice that quits while the route is connected leaves the port free for the next
            # one: its end of the connection would otherwise wait in TIME-WAIT for a minute.
            os.killpg(office.pid, signal.SIGTERM)
            office.wait(30)
            wait_for("port 1599 free after LibreOffice", lambda: on_port() == "", True, timeout=40)
            watch.tap("NEXT_SLIDE", error="PRESENTATION_ENDED")
            watch.process.send_signal(signal.SIGINT)
            lines = watch.process.communicate(timeout=10)[0].decode()
            self.assertRegex(lines, re.compile(r"^.*\| impress slide 2/5 \| NEXT_SLIDE: transition_next in ", re.M))
