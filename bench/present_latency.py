#!/usr/bin/python3
"""How long a command of the watch takes with orbilatch-present, on each route to a real program under Xvfb:
from the command line of a stand-in agent to the acknowledgement line, and to the program's own report of the
change (pdfpc's OverlayChange signal; the page Okular answers when asked; Impress's slide_updated to a second
client of its remote control). pdfpc by D-Bus and pdfpc by keys take
turns in one run. Prints the median and the 99th percentile of each; fails when a command is not executed.

usage: bench/present_latency.py [--tries N] [--present build/orbilatch-present]"""

import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests"), os.path.join(HERE, "..", "tools")]
os.environ["PYTHONPATH"] = os.path.join(HERE, "..", "tools")  # for the stand-in agent
os.environ.setdefault("ORBILATCH_PRESENT", os.path.join(HERE, "..", "build", "orbilatch-present"))


def percentile(samples, share):
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


class PageTurns:
    """pdfpc's OverlayChange signals as they arrive, each with the time it was read."""

    def __init__(self, address):
        self.times = []
        self.monitor = subprocess.Popen(["dbus-monitor", "--address", address,
                                         "type='signal',interface='io.github.pdfpc',member='OverlayChange'"],
                                        stdout=subprocess.PIPE, text=True)
        self.monitor.stdout.readline()  # the bus daemon's greeting: it listens

        def read():
            for line in self.monitor.stdout:
                if "member=OverlayChange" in line:
                    self.times.append(time.monotonic())
        threading.Thread(target=read, daemon=True).start()

    def after(self, start):
        """The time of the first page turn since `start`, once there is one."""
        from desktop.harness import wait_for
        return wait_for("a page turn", lambda: next((t for t in self.times if t > start), None), timeout=10)


class SlidesShown:
    """Impress's reports of the slide shown, as a second client of its remote control hears them."""

    def __init__(self, name, pin):
        import socket
        self.times = []
        connection = socket.create_connection(("127.0.0.1", 1599))
        connection.sendall(f"LO_SERVER_CLIENT_PAIR\n{name}\n{pin}\n\n".encode())

        def read():
            for line in connection.makefile("rb"):
                if line == b"slide_updated\n":
                    self.times.append(time.monotonic())
        threading.Thread(target=read, daemon=True).start()

    def after(self, start):
        from desktop.harness import wait_for
        return wait_for("a slide shown", lambda: next((t for t in self.times if t > start), None), timeout=10)


def measure(route, command_line, reported, tries, results):
    """Sends NEXT and PREVIOUS in turn; `reported(start)` is when the program reported the change."""
    acks, reports = results.setdefault(route, ([], []))
    for _ in range(tries):
        start = time.monotonic()
        command_line.answered(command_line.command("NEXT_SLIDE" if len(acks) % 2 == 0 else "PREVIOUS_SLIDE"))
        acks.append(time.monotonic() - start)
        reports.append(reported(start) - start)
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tries", type=int, default=50)
    parser.add_argument("--present", help="orbilatch-present to measure (default: build/orbilatch-present)")
    args = parser.parse_args()
    if args.present:
        os.environ["ORBILATCH_PRESENT"] = os.path.abspath(args.present)
    from desktop.harness import Desktop, require, wait_for, write_deck
    from presenter.stand_in_agent import Presenter
    require(["Xvfb", "dbus-daemon", "dbus-monitor", "pdfpc", "okular", "soffice", "ss"], ["dbus", "Xlib", "PIL"])

    results = {}
    with Desktop() as desktop:
        deck = f"{desktop.dir}/deck.pdf"
        write_deck(deck)
        _, pdfpc = desktop.pdfpc(deck, (960, 0, 960, 540))
        desktop.focus(desktop.window("pdfpc - presenter"))
        turns = PageTurns(desktop.env["DBUS_SESSION_BUS_ADDRESS"])
        by_bus = Presenter(desktop, ["--app", "pdfpc"])
        by_keys = Presenter(desktop, ["--app", "keys", "--profile", "pdfpc"])
        for _ in range(args.tries):
            measure("pdfpc by D-Bus", by_bus, turns.after, 1, results)
            measure("pdfpc by keys", by_keys, turns.after, 1, results)
        pdfpc.TriggerAction("quit")
        turns.monitor.kill()

        _, part = desktop.okular(deck)
        to_okular = Presenter(desktop, ["--app", "okular"])
        to_okular.answered(to_okular.command("START_PRESENTATION"))

        def page_turned(_):
            """Okular's page once it is where the last command took it: 2 after NEXT, 1 after PREVIOUS."""
            expected = 2 if len(results["Okular by D-Bus"][0]) % 2 else 1
            wait_for("Okular's page", lambda: int(part.currentPage()), expected)
            return time.monotonic()
        measure("Okular by D-Bus", to_okular, page_turned, args.tries, results)

    with Desktop(1280, 720) as desktop:
        desktop.impress_remote(f"{desktop.dir}/deck.pdf", "orbilatch-present", "orbilatch-bench")
        to_impress = Presenter(desktop, ["--app", "impress"])
        to_impress.answered(to_impress.command("START_PRESENTATION"))
        shown = SlidesShown("orbilatch-bench", "2468")
        time.sleep(1.5)  # the presenter holds a move for a second after the show starts, which Impress would lose
        measure("Impress by remote", to_impress, shown.after, args.tries, results)

    print(f"{'route':<18}{'n':>4}  {'to the acknowledgement':>26}  {'to the program report':>26}")
    print(f"{'':<18}{'':>4}  {'median':>12}{'p99':>14}  {'median':>12}{'p99':>14}")
    for route, (acks, reports) in results.items():
        row = [f"{statistics.median(s) * 1000:.1f} ms" for s in (acks,)] + [f"{percentile(acks, 0.99) * 1000:.1f} ms"]
        row += [f"{statistics.median(reports) * 1000:.1f} ms", f"{percentile(reports, 0.99) * 1000:.1f} ms"]
        print(f"{route:<18}{len(acks):>4}  {row[0]:>12}{row[1]:>14}  {row[2]:>12}{row[3]:>14}")


if __name__ == "__main__":
    main()
