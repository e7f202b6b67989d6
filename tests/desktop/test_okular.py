"""Okular driven by orbilatch-present over its D-Bus interface, its presentation seen on X11: what the watch
hears for each command, the page read back from Okular and its presentation window from the X server; pdfpc
beside it, which comes first while it runs; each quitting in the middle of a command."""

import subprocess
import unittest

from desktop.harness import Desktop, require, write_deck
from presenter.stand_in_agent import Presenter

require(["Xvfb", "dbus-daemon", "dbus-monitor", "okular", "pdfpc"], ["dbus", "Xlib", "PIL"])
from Xlib import X  # noqa: E402

AUDIENCE = (960, 0, 960, 540)  # where pdfpc's presentation window is put


def presenting(desktop, pid):
    """Whether a window of the process, titled as Okular titles its presentation, is mapped."""
    pid_atom, name_atom = desktop.x.intern_atom("_NET_WM_PID"), desktop.x.intern_atom("_NET_WM_NAME")
    for window in desktop.root.query_tree().children:
        owner = window.get_full_property(pid_atom, X.AnyPropertyType)
        title = window.get_full_property(name_atom, X.AnyPropertyType)
        if owner and owner.value[0] == pid and title and b"Presentation" in bytes(title.value):
            if window.get_attributes().map_state == X.IsViewable:
                return True
    return False


class OkularOverTheBus(unittest.TestCase):
    def test_the_watch_hears_what_okular_did_and_a_running_pdfpc_comes_first(self):
        with Desktop() as desktop:
            deck = f"{desktop.dir}/deck.pdf"
            write_deck(deck)
            okular, part = desktop.okular(deck)

            def state():
                """Okular's page, and whether it shows its presentation."""
                return int(part.currentPage()), presenting(desktop, okular.pid)

            watch = Presenter(desktop)

            def tap(command, expected, error=None):
                watch.tap(command, error=error)
                self.assertEqual(state(), expected, f"{command}: Okular has done it before the watch hears it")

            for command in ("NEXT_SLIDE", "END_PRESENTATION", "TOGGLE_BLACK_SCREEN"):
                tap(command, (1, False), "PRESENTATION_ENDED")
            tap("START_PRESENTATION", (1, True))
            tap("START_PRESENTATION", (1, True))
            tap("PREVIOUS_SLIDE", (1, True), "AT_FIRST_SLIDE")
            tap("NEXT_SLIDE", (2, True))
            tap("TOGGLE_BLACK_SCREEN", (2, True), "NOT_SUPPORTED")
            tap("END_PRESENTATION", (2, False))

            with desktop.call_seen("Get", "arg1='NumberOfOverlays'"):  # the presenter has seen pdfpc come
                pdfpc, notes = desktop.pdfpc(deck, AUDIENCE)
            watch.tap("NEXT_SLIDE", lambda: (state(), notes.GetNotes()), ((2, False), "page 2"))
            desktop.quit_midway(watch, pdfpc, "NEXT_SLIDE", "TriggerAction")
            tap("START_PRESENTATION", (2, True))
            desktop.quit_midway(watch, okular, "NEXT_SLIDE", "currentPage")
