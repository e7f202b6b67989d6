"""LibreOffice Impress driven by the watch's five commands through
orbilatch-present's XTEST keyboard, the show read back through UNO."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from desktop.harness import Desktop, Presenter, keysym, require, wait_for  # noqa: E402

require(["Xvfb", "dbus-daemon", "soffice", "xterm"], ["uno", "Xlib", "PIL"])
import uno  # noqa: E402
from com.sun.star.connection import NoConnectException  # noqa: E402

NOT_RUNNING = "not running"
SHOT = os.environ.get("ORBILATCH_SCREENSHOT")
SHOW = (0, 0, 1280, 720)
TERMINAL = (0, 720, 1280, 180)
COLOURS = ["#1f4e79", "#2e7d32", "#b71c1c", "#6a1b9a", "#e65100"]


def write_deck(path):
    """Five slides, each its own colour and title, in LibreOffice's flat XML."""
    ns = {"office": "office:1.0", "style": "style:1.0", "text": "text:1.0", "draw": "drawing:1.0",
          "fo": "xsl-fo-compatible:1.0", "svg": "svg-compatible:1.0", "presentation": "presentation:1.0"}
    namespaces = " ".join(f'xmlns:{k}="urn:oasis:names:tc:opendocument:xmlns:{v}"' for k, v in ns.items())
    backgrounds = "".join(f'<style:style style:name="bg{n}" style:family="drawing-page"><style:drawing-page-properties'
                          f' draw:fill="solid" draw:fill-color="{colour}"/></style:style>'
                          for n, colour in enumerate(COLOURS, 1))
    pages = "".join(f'<draw:page draw:name="s{n}" draw:style-name="bg{n}" draw:master-page-name="M">'
                    f'<draw:frame draw:style-name="box" svg:x="2cm" svg:y="4cm" svg:width="24cm" svg:height="7cm">'
                    f'<draw:text-box><text:p text:style-name="title">Slide {n}</text:p></draw:text-box></draw:frame>'
                    f'</draw:page>' for n in range(1, 6))
    with open(path, "w") as deck:
        deck.write(f'''<?xml version="1.0" encoding="UTF-8"?>
<office:document {namespaces} office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:automatic-styles>
<style:page-layout style:name="L"><style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm"/></style:page-layout>
{backgrounds}
<style:style style:name="box" style:family="graphic"><style:graphic-properties draw:fill="none" draw:stroke="none"
 draw:textarea-vertical-align="middle"/></style:style>
<style:style style:name="title" style:family="paragraph"><style:paragraph-properties fo:text-align="center"/>
<style:text-properties fo:font-size="80pt" fo:color="#ffffff"/></style:style>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="M" style:page-layout-name="L"/></office:master-styles>
<office:body><office:presentation>{pages}</office:presentation></office:body></office:document>
''')


class Impress:
    def __init__(self, desktop, deck):
        pipe = f"orbilatch{os.getpid()}"
        desktop.start(["soffice", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
                       f"-env:UserInstallation=file://{desktop.dir}/libreoffice",
                       f"--accept=pipe,name={pipe};urp;"])
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + 90
        while True:
            try:
                context = resolver.resolve(f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
                break
            except NoConnectException:
                if time.monotonic() > deadline:
                    raise AssertionError("LibreOffice did not answer on its UNO pipe:\n" + desktop.log("soffice"))
                time.sleep(0.2)
        self.toolkit = context.ServiceManager.createInstanceWithContext("com.sun.star.awt.Toolkit", context)
        office = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        self.show = office.loadComponentFromURL(uno.systemPathToFileUrl(deck), "_blank", 0, ()).Presentation

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
        if controller is None:
            return NOT_RUNNING
        return controller.getCurrentSlideIndex() + 1, controller.isPaused()


class ImpressRoad(unittest.TestCase):
    def test_the_watch_runs_a_show_and_keys_follow_the_focus(self):
        started = time.monotonic()
        with Desktop(1280, 900) as desktop:
            deck = f"{desktop.dir}/deck.fodp"
            write_deck(deck)
            impress = Impress(desktop, deck)
            # Impress takes the focus itself; focusing its window from outside
            # before the show starts leaves the show deaf to PageDown and PageUp.
            editor = desktop.window("LibreOffice Impress")
            wait_for("Impress focused", desktop.focused, editor)
            watch = Presenter(desktop, terminal="140x9+0+720")

            def tap(command, state):
                impress.settle()
                self.assertEqual(watch.tap(command), "executed", command)
                wait_for(f"the show after {command}", impress.state, state)

            tap("START_PRESENTATION", (1, False))
            show = desktop.window("Presenting:")
            desktop.place(show, *SHOW)  # leaves room for the presenter's terminal
            status = desktop.grab(*TERMINAL)
            tap("NEXT_SLIDE", (2, False))
            if SHOT:
                wait_for("the status line", lambda: desktop.grab(*TERMINAL) != status, True)
                desktop.grab().save(SHOT)
            tap("NEXT_SLIDE", (3, False))
            tap("PREVIOUS_SLIDE", (2, False))

            other = desktop.other_window(960, 540, 320, 180)
            desktop.focus(other)
            impress.settle()
            self.assertEqual(watch.tap("NEXT_SLIDE"), "executed")
            wait_for("the key in the focused window", other.keys, [keysym("Next")])
            self.assertEqual(impress.state(), (2, False))
            other.destroy()
            desktop.focus(show)

            tap("TOGGLE_BLACK_SCREEN", (2, True))
            wait_for("a black screen", lambda: desktop.colour(*SHOW), (0, 0, 0))
            tap("TOGGLE_BLACK_SCREEN", (2, False))
            tap("END_PRESENTATION", NOT_RUNNING)
        print(f"Impress road: {time.monotonic() - started:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
