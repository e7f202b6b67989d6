"""LibreOffice Impress driven by the watch's five commands through
orbilatch-present's XTEST keyboard, the show read back through UNO. With
ORBILATCH_SCREENSHOT it also takes the README's picture (docs/presenting.png)."""

import os
import time
import unittest

from desktop.harness import Desktop, require, wait_for, write_deck
from presenter.stand_in_agent import Presenter

require(["Xvfb", "dbus-daemon", "soffice", "xterm"], ["uno", "Xlib", "PIL"])
import uno  # noqa: E402
from com.sun.star.beans import PropertyValue  # noqa: E402
from com.sun.star.connection import NoConnectException  # noqa: E402

ENDED = "ended"
SHOT = os.environ.get("ORBILATCH_SCREENSHOT")
SHOW = (0, 0, 1280, 720)
TERMINAL = (0, 720, 1280, 180)


class Impress:
    def __init__(self, desktop, deck):
        pipe = f"orbilatch{os.getpid()}"
        desktop.start(["soffice", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
                       f"-env:UserInstallation=file://{desktop.dir}/libreoffice", f"--accept=pipe,name={pipe};urp;"])
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)

        def connect():
            try:
                return resolver.resolve(f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
            except NoConnectException:
                return None
        context = wait_for("LibreOffice on its UNO pipe", connect, timeout=90)
        self.toolkit = context.ServiceManager.createInstanceWithContext("com.sun.star.awt.Toolkit", context)
        office = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        as_slides = (PropertyValue(Name="FilterName", Value="impress_pdf_import"),)
        self.show = office.loadComponentFromURL(uno.systemPathToFileUrl(deck), "_blank", 0, as_slides).Presentation

    def settle(self):
        """Impress ignores keys for 20 ms after each slide change, its filter
        for input buffered during a transition, so a tap that comes sooner is
        lost just like a key press would be. Before each tap its main loop goes
        idle past that window."""
        self.toolkit.processEventsToIdle()
        time.sleep(0.05)
        self.toolkit.processEventsToIdle()

    def state(self):
        """(slide number, blanked) while the show runs."""
        controller = self.show.Controller if self.show.isRunning() else None
        return ENDED if controller is None else (controller.getCurrentSlideIndex() + 1, controller.isPaused())


class ImpressRoad(unittest.TestCase):
    def test_the_watch_runs_a_show_and_keys_follow_the_focus(self):
        with Desktop(1280, 900) as desktop:
            write_deck(f"{desktop.dir}/deck.pdf")
            impress = Impress(desktop, f"{desktop.dir}/deck.pdf")
            # Impress takes the focus itself; focusing its window from outside
            # before the show starts leaves the show deaf to PageDown and PageUp.
            editor = desktop.window("LibreOffice Impress")
            wait_for("Impress focused", lambda: desktop.x.get_input_focus().focus, editor)
            watch = Presenter(desktop, ["--app", "keys"], terminal="140x9+0+720", settle=impress.settle)

            watch.tap("START_PRESENTATION", impress.state, (1, False))
            show = desktop.window("Presenting:")
            desktop.place(show, *SHOW)  # leaves room for the presenter's terminal
            desktop.focus(show)  # a window that names no program, whose X client's editor does
            status = desktop.grab(*TERMINAL)
            watch.tap("NEXT_SLIDE", impress.state, (2, False))
            if SHOT:
                wait_for("the status line", lambda: desktop.grab(*TERMINAL) != status, True)
                desktop.grab().save(SHOT)
            watch.tap("NEXT_SLIDE", impress.state, (3, False))
            watch.tap("PREVIOUS_SLIDE", impress.state, (2, False))

            watch.tap("TOGGLE_BLACK_SCREEN", impress.state, (2, True))
            wait_for("a black screen", lambda: desktop.colour(*SHOW), (0, 0, 0))
            watch.tap("TOGGLE_BLACK_SCREEN", impress.state, (2, False))
            watch.tap("END_PRESENTATION", impress.state, ENDED)
