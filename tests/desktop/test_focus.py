"""The key route on the X11 focus of an Xvfb without a window manager: a key goes out only to a window of the profile's
programs, named in WM_CLASS by the window or, like Impress's show window, by another window of its X client."""

import unittest

from desktop.harness import Desktop, require
from presenter.stand_in_agent import Presenter

require(["Xvfb", "xterm"], ["Xlib"])
from Xlib import X, XK, display  # noqa: E402

NEXT = [(XK.XK_Next, True), (XK.XK_Next, False)]


class FocusRoad(unittest.TestCase):
    def test_a_key_goes_out_only_to_the_profiles_programs(self):
        with Desktop(1280, 720) as desktop:
            desktop.start(["xterm", "-geometry", "40x5+0+0"])
            xterm = desktop.listen(desktop.window("xterm"))
            nameless = display.Display(desktop.env["DISPLAY"])  # a program whose windows name none
            stranger = nameless.screen().root.create_window(0, 300, 200, 100, 0, X.CopyFromParent)
            stranger.map()
            nameless.sync()
            stranger = desktop.listen(desktop.x.create_resource_object("window", stranger.id))
            watch = Presenter(desktop, ["--app", "keys"])  # the default profile: Impress and Evince
            desktop.root.warp_pointer(10, 10)  # over the xterm: its key goes to the window under the pointer inside it
            for focus in (xterm, stranger, X.NONE, X.PointerRoot):
                desktop.focus(focus)
                watch.tap("NEXT_SLIDE", error="FOCUS_ELSEWHERE")

            evince = desktop.other_window(640, 0, 320, 180, wm_class=("evince", "Evince"))
            watch.tap("NEXT_SLIDE", lambda: desktop.keys(evince), NEXT)
            show = desktop.other_window(640, 360, 320, 180, override_redirect=True)
            watch.tap("NEXT_SLIDE", lambda: desktop.keys(show), NEXT)

            self.assertEqual((desktop.keys(xterm), desktop.keys(stranger)), ([], []), "events arrive in order")
            elsewhere = ", not a program of the default profile"
            self.assertEqual([line for line in desktop.log("orbilatch-present").splitlines() if "failed" in line], [
                f"orbilatch-present: NEXT_SLIDE failed: {reason}" for reason in (
                    "the focus is on XTerm" + elsewhere, "the focus is on a window that names no program" + elsewhere,
                    "no window has the focus", "the focus is on XTerm" + elsewhere)])
