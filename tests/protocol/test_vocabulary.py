"""tools/agent_events.py has a copy of the protocol's names of its own: each must be one of protocol/."""

import pathlib
import re
import unittest

import agent_events as events

NAMES = {name for header in (pathlib.Path(__file__).parents[2] / "protocol").glob("*.h")
         for name in re.findall(r'"([^"]*)"', re.sub(r"//.*", "", header.read_text()))}


class Vocabulary(unittest.TestCase):
    def test_the_python_events_and_messages_use_the_agents_names(self):
        for sample in [value for name, value in vars(events).items() if name.isupper()] + [
                events.received(2, "1", "NEXT_SLIDE"), events.ack_received("1"), events.ack_notified("OL2|A|1|E"),
                events.acknowledgement("1", error_code="PRESENTATION_ENDED")]:
            for member, value in sample.items():
                worded = member in ("commandId", "frame", "message")  # by the caller or the agent
                self.assertTrue(member in NAMES and (worded or value in NAMES or isinstance(value, int)), sample)
