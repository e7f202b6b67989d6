"""The presenter on the real stack: the watch taps each of the five commands,
the presenter's virtual keyboard gives exactly that command's key, pressed and
released, and the watch receives each acknowledgement as executed."""

from evdev import ecodes

from commands import SUCCESS
from orbilatch_watch import command_frame
from presenter_rig import KeyReader, key_name

TAPS = [
    ("start", "START_PRESENTATION", ecodes.KEY_F5),
    ("next", "NEXT_SLIDE", ecodes.KEY_PAGEDOWN),
    ("previous", "PREVIOUS_SLIDE", ecodes.KEY_PAGEUP),
    ("black", "TOGGLE_BLACK_SCREEN", ecodes.KEY_B),
    ("end", "END_PRESENTATION", ecodes.KEY_ESC),
]


async def every_command_presses_its_key(rig, watch):
    """The watch is the presenter's, subscribed."""
    keyboard = KeyReader()
    try:
        for number, (word, command, code) in enumerate(TAPS, start=1):
            command_id = str(number)
            assert await watch.write(command_frame(word, command_id)) == SUCCESS
            keys = [(got, value) for got, value, _ in await keyboard.next(2)]
            rig.log("keyboard", ", ".join(f"{key_name(got)} {value}" for got, value in keys))
            assert keys == [(code, 1), (code, 0)], f"{command}: keys {keys}"
            assert await watch.next_notification() == f"OL2|A|{command_id}|E".encode()
    finally:
        keyboard.close()
