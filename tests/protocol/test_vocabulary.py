"""tools/agent_events.py writes the agent's events and the controller's messages with a
copy of their names of its own: each must be a name of the C++ vocabulary in protocol/."""

import pathlib
import re
import unittest

import agent_events as events

HEADERS = (pathlib.Path(__file__).parents[2] / "protocol").glob("*.h")
NAMES = {name for header in HEADERS for name in re.findall(r'"([^"]*)"', re.sub(r"//.*", "", header.read_text()))}
CHOSEN = {"commandId", "frame", "message"}  # members whose values the caller or the agent words


class Vocabulary(unittest.TestCase):
    def test_the_python_events_and_messages_use_the_agents_names(self):
        samples = [value for name, value in vars(events).items() if name.isupper()]
        samples += [events.received(2, "1", "NEXT_SLIDE"), events.malformed("Invalid commandId"),
                    events.ack_received("1"), events.ack_notified("OL2|A|1|E"),
                    events.acknowledgement("1", error_code="PRESENTATION_ENDED")]
        for sample in samples:
            for member, value in sample.items():
                self.assertIn(member, NAMES, sample)
                if isinstance(value, str) and member not in CHOSEN:
                    self.assertIn(value, NAMES, sample)
