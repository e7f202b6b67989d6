"""pdfpc, Debian's PDF presenter, driven by the watch's five commands through
orbilatch-present's XTEST keyboard: the page read back from its D-Bus
interface, and what the audience sees from the screen."""

import json
import unittest

from desktop.harness import COLOURS, Desktop, require, wait_for, write_deck
from presenter.stand_in_agent import Presenter

require(["Xvfb", "dbus-daemon", "pdfpc"], ["dbus", "Xlib", "PIL"])
import dbus  # noqa: E402

KEYS = ["--profile", "pdfpc"]
AUDIENCE = (960, 0, 960, 540)  # where the presentation window is put
BLACK = 0


class PdfpcRoad(unittest.TestCase):
    def test_the_watch_moves_through_the_pdf_and_blanks_it(self):
        with Desktop() as desktop:
            deck = f"{desktop.dir}/deck.pdf"
            write_deck(deck)
            with open(deck + "pc", "w") as notes:  # pdfpc's notes file; it gives the page's notes out on D-Bus
                pages = [{"idx": n - 1, "label": str(n), "overlay": 0, "note": f"page {n}"} for n in range(1, 6)]
                json.dump({"pdfpcFormat": 2, "pages": pages}, notes)
            # Starting on page 3 lets the first command show that it moves.
            desktop.start(["pdfpc", "--windowed", "both", "--size", "960:540", "--page", "3", deck])
            presenter_window = desktop.window("pdfpc - presenter")
            desktop.place(desktop.window("pdfpc - presentation"), *AUDIENCE)
            bus = dbus.bus.BusConnection(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
            wait_for("pdfpc on the session bus", lambda: bus.name_has_owner("io.github.pdfpc"), True)
            pdfpc = dbus.Interface(bus.get_object("io.github.pdfpc", "/io/github/pdfpc"), "io.github.pdfpc")

            def state():
                """The page pdfpc is on, and the page (or BLACK) nearest in colour to the audience's window."""
                seen = desktop.colour(*AUDIENCE)
                colours = [(0, 0, 0), *COLOURS]
                audience = min(range(len(colours)), key=lambda n: sum((a - b) ** 2 for a, b in zip(colours[n], seen)))
                return int(pdfpc.GetNotes().split()[-1]), audience

            wait_for("pdfpc", state, (3, 3))
            desktop.focus(presenter_window)  # no window manager here to give it the focus
            watch = Presenter(desktop, KEYS)
            watch.tap("START_PRESENTATION", state, (1, 1))
            watch.tap("NEXT_SLIDE", state, (2, 2))
            watch.tap("NEXT_SLIDE", state, (3, 3))
            watch.tap("PREVIOUS_SLIDE", state, (2, 2))
            watch.tap("TOGGLE_BLACK_SCREEN", state, (2, BLACK))
            watch.tap("TOGGLE_BLACK_SCREEN", state, (2, 2))
            watch.tap("END_PRESENTATION", state, (5, 5))
