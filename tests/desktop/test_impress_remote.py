"""LibreOffice Impress driven by orbilatch-present through its remote control,
set up as a user does once (enabled, and the presenter paired) in a private
profile: what the watch hears for each command, against the screen, and the
slide the status line shows."""

import os
import re
import signal
import subprocess
import unittest

from desktop.harness import COLOURS, Desktop, on_port, require, wait_for
from presenter.stand_in_agent import Presenter

require(["Xvfb", "soffice", "ss"], ["Xlib", "PIL"])
from Xlib import error  # noqa: E402


class ImpressRemote(unittest.TestCase):
    def test_each_command_is_answered_as_the_show_on_the_screen_went(self):
        with Desktop(1280, 720) as desktop:
            office = desktop.impress_remote(f"{desktop.dir}/deck.pdf", "orbilatch-present")
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
            # one: its end of the connection would otherwise wait in TIME-WAIT for a minute. Killed, as its
            # own orderly exit may take longer than that on a busy machine.
            os.killpg(office.pid, signal.SIGKILL)
            office.wait(30)
            wait_for("port 1599 free after LibreOffice", on_port, "", timeout=40)
            watch.tap("NEXT_SLIDE", error="PRESENTATION_ENDED")
            watch.process.send_signal(signal.SIGINT)
            lines = watch.process.communicate(timeout=10)[0].decode()
            self.assertRegex(lines, re.compile(r"^.*\| impress slide 2/5 \| NEXT_SLIDE: transition_next in ", re.M))
