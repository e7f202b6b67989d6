"""The key route reads the X11 focus of an Xvfb without a window manager: a key goes out only where it reaches a
window of the profile's programs, named in WM_CLASS by the window, a window it lies in, or, like Impress's show
window, by another window of its X client."""

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
            xterm = desktop.window("xterm")
            desktop.listen(xterm)
            stranger_client = display.Display(desktop.env["DISPLAY"])  # a program whose windows name none
            created = stranger_client.screen().root.create_window(0, 300, 200, 100, 0, X.CopyFromParent)
            created.map()
            stranger_client.sync()
            stranger = desktop.x.create_resource_object("window", created.id)
            desktop.listen(stranger)
            watch = Presenter(desktop)  # the default profile: Impress and Evince

            for focus, pointer, reason in (
                    (xterm, None, "the focus is on XTerm, not a program of the default profile"),
                    (stranger, None, "the focus is on a window that names no program, not a program of the default"),
                    (X.NONE, None, "no window has the focus"),
                    (X.PointerRoot, (10, 10), "the focus is on XTerm")):
                desktop.root.warp_pointer(*pointer or (1279, 719))
                desktop.focus(focus)
                watch.tap("NEXT_SLIDE", refused="FOCUS_ELSEWHERE")
                self.assertIn(f"NEXT_SLIDE failed: {reason}", desktop.log("orbilatch-present"))

            evince = desktop.other_window(640, 0, 320, 180, wm_class=("evince", "Evince"))
            watch.tap("NEXT_SLIDE", lambda: desktop.keys(evince), NEXT)
            # Under the pointer inside the focus, a window of Evince's that names nothing takes the key.
            inner = evince.create_window(10, 10, 100, 100, 0, X.CopyFromParent)
            inner.map()
            desktop.listen(inner)
            desktop.root.warp_pointer(700, 50)
            desktop.focus(X.PointerRoot)
            watch.tap("NEXT_SLIDE", lambda: desktop.keys(inner), NEXT)
            show = desktop.other_window(640, 360, 320, 180, override_redirect=True)
            watch.tap("NEXT_SLIDE", lambda: desktop.keys(show), NEXT)
            self.assertEqual((desktop.keys(xterm), desktop.keys(stranger)), ([], []), "events arrive in order")
