"""pdfpc, Debian's PDF presenter, driven by the watch's five commands through
orbilatch-present's XTEST keyboard: the page read back from its D-Bus
interface, and what the audience sees from the screen against the pages
pdftoppm renders from the same PDF."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from desktop.harness import Desktop, Presenter, require, wait_for  # noqa: E402

require(["Xvfb", "dbus-daemon", "pdfpc", "pdftoppm"], ["dbus", "Xlib", "PIL"])
import dbus  # noqa: E402
from PIL import Image, ImageStat  # noqa: E402

# pdfpc presents from the moment it starts and has no show to end. Its S only
# starts the talk timer, which the audience never sees, and it ignores Ctrl+Q
# (quit) after a black screen until the page changes. Home and End, the first
# and the last page, always work and can be undone from the watch.
KEYS = ["--profile", "pdfpc", "--key", "START_PRESENTATION=Home", "--key", "END_PRESENTATION=End"]
COLOURS = [(0.12, 0.31, 0.47), (0.18, 0.49, 0.2), (0.72, 0.11, 0.11), (0.42, 0.11, 0.6), (0.9, 0.32, 0)]
BLACK = "black"
AUDIENCE = (960, 0, 960, 540)  # where the presentation window is put


def write_pdf(path):
    """Five pages, each its own colour, each with a note naming the page,
    which pdfpc gives out on D-Bus as the current page's notes."""
    objects = [b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    pages = 2 + 2 * len(COLOURS)
    kids = []
    for n, (r, g, b) in enumerate(COLOURS, 1):
        text = f"{r} {g} {b} rg 0 0 800 450 re f 1 1 1 rg BT /F1 96 Tf 230 190 Td (Slide {n}) Tj ET".encode()
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text))
        objects.append(b"<< /Type /Page /Parent %d 0 R /Contents %d 0 R /Resources << /Font << /F1 1 0 R >> >>"
                       b" /Annots [<< /Type /Annot /Subtype /Text /Rect [0 0 1 1] /Contents (page %d) >>] >>"
                       % (pages, len(objects), n))
        kids.append(b"%d 0 R" % len(objects))
    objects.append(b"<< /Type /Pages /Kids [%s] /Count %d /MediaBox [0 0 800 450] >>" % (b" ".join(kids), len(kids)))
    objects.append(b"<< /Type /Catalog /Pages %d 0 R /PageLabels << /Nums [0 << /S /D >>] >> >>" % pages)
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, len(objects), xref)
    with open(path, "wb") as pdf:
        pdf.write(out)


class Pdfpc:
    def __init__(self, desktop, pdf):
        self.desktop = desktop
        subprocess.run(["pdftoppm", "-scale-to", "64", "-png", pdf, f"{desktop.dir}/page"], check=True)
        self.colours = {BLACK: (0, 0, 0)}
        for n in range(1, len(COLOURS) + 1):
            with Image.open(f"{desktop.dir}/page-{n}.png") as page:
                self.colours[n] = ImageStat.Stat(page.convert("RGB")).mean
        # Starting on page 3 lets the first command show that it moves.
        desktop.start(["pdfpc", "--windowed", "both", "--size", "960:540", "--page", "3", pdf])
        self.presenter = desktop.window("pdfpc - presenter")
        desktop.place(desktop.window("pdfpc - presentation"), *AUDIENCE)
        bus = dbus.bus.BusConnection(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
        wait_for("pdfpc on the session bus", lambda: bus.name_has_owner("io.github.pdfpc"), True)
        self.pdfpc = dbus.Interface(bus.get_object("io.github.pdfpc", "/io/github/pdfpc"), "io.github.pdfpc")

    def page(self):
        return int(self.pdfpc.GetNotes().split()[-1])

    def audience_sees(self):
        """The rendered page, or black, nearest in colour to the presentation window."""
        seen = self.desktop.colour(*AUDIENCE)
        return min(self.colours, key=lambda k: sum((a - b) ** 2 for a, b in zip(self.colours[k], seen)))

    def state(self):
        return self.page(), self.audience_sees()


class PdfpcRoad(unittest.TestCase):
    def test_the_watch_moves_through_the_pdf_and_blanks_it(self):
        started = time.monotonic()
        with Desktop() as desktop:
            pdf = f"{desktop.dir}/deck.pdf"
            write_pdf(pdf)
            pdfpc = Pdfpc(desktop, pdf)
            wait_for("pdfpc", pdfpc.state, (3, 3))
            desktop.focus(pdfpc.presenter)  # no window manager here to give it the focus
            watch = Presenter(desktop, KEYS)

            def tap(command, state):
                self.assertEqual(watch.tap(command), "executed", command)
                wait_for(f"pdfpc after {command}", pdfpc.state, state)

            tap("START_PRESENTATION", (1, 1))
            tap("NEXT_SLIDE", (2, 2))
            tap("NEXT_SLIDE", (3, 3))
            tap("PREVIOUS_SLIDE", (2, 2))
            tap("TOGGLE_BLACK_SCREEN", (2, BLACK))
            tap("TOGGLE_BLACK_SCREEN", (2, 2))
            tap("END_PRESENTATION", (5, 5))
        print(f"pdfpc road: {time.monotonic() - started:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
