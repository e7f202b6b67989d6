"""pdfpc driven by orbilatch-present over pdfpc's D-Bus interface: what the watch hears for each command, the
page read back from pdfpc's own notes, what the audience sees from the screen; pdfpc quitting in the middle."""

import re
import signal
import subprocess
import unittest

from desktop.harness import COLOURS, Desktop, require, wait_for, write_deck
from presenter.stand_in_agent import Presenter

require(["Xvfb", "dbus-daemon", "dbus-monitor", "pdfpc"], ["dbus", "Xlib", "PIL"])

AUDIENCE = (960, 0, 960, 540)  # where the presentation window is put
BLACK = 0


class PdfpcOverTheBus(unittest.TestCase):
    def test_the_watch_hears_what_pdfpc_did(self):
        with Desktop() as desktop:
            write_deck(f"{desktop.dir}/deck.pdf")
            pdfpc, interface = desktop.pdfpc(f"{desktop.dir}/deck.pdf", AUDIENCE)

            def state():
                """The page pdfpc is on, and the page (or BLACK) nearest in colour to the audience's window."""
                seen = desktop.colour(*AUDIENCE)
                colours = [(0, 0, 0), *COLOURS]
                audience = min(range(len(colours)), key=lambda n: sum((a - b) ** 2 for a, b in zip(colours[n], seen)))
                return int(interface.GetNotes().split()[-1]), audience

            wait_for("pdfpc", state, (1, 1))
            watch = Presenter(desktop, ["--app", "pdfpc"], stdout=subprocess.PIPE)
            watch.tap("PREVIOUS_SLIDE", state, (1, 1), "AT_FIRST_SLIDE")
            watch.tap("NEXT_SLIDE", state, (2, 2))
            watch.tap("START_PRESENTATION", state, (2, 2))
            watch.tap("TOGGLE_BLACK_SCREEN", state, (2, BLACK), "NOT_CONFIRMED")
            watch.tap("TOGGLE_BLACK_SCREEN", state, (2, 2), "NOT_CONFIRMED")
            watch.tap("END_PRESENTATION", state, (5, 5))
            watch.tap("NEXT_SLIDE", state, (5, 5), "AT_LAST_SLIDE")

            desktop.quit_midway(watch, pdfpc, "NEXT_SLIDE", "TriggerAction")
            watch.process.send_signal(signal.SIGINT)
            lines = watch.process.communicate(timeout=10)[0].decode()
            self.assertRegex(lines, re.compile(r"^.*\| pdfpc slide 5/5 \| END_PRESENTATION: gotoLast in ", re.M))
