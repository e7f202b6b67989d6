"""Only bluetoothd may call the agent's objects: any other process on the bus
could otherwise inject commands or steal the watch's notifications."""

import unittest

from bluez.testbed import Testbed

ACCESS_DENIED = "org.freedesktop.DBus.Error.AccessDenied"


class ForeignCallerTest(unittest.TestCase):
    def test_calls_from_another_connection_are_denied_and_change_nothing(self):
        with Testbed() as bed:
            bed.expect_advertising()
            stranger = bed.bluez.foreign_caller()
            self.addCleanup(stranger.close)
            self.assertEqual(stranger.release_advertisement(), ACCESS_DENIED)

            watch = bed.connect_watch()
            self.assertEqual(stranger.write(b"OL2|C|42|N", device=watch.path), ACCESS_DENIED)
            self.assertEqual(stranger.acquire_notify(device=watch.path), ACCESS_DENIED)
            self.assertEqual(stranger.acquire_notify(device="/org/bluez/hci0/dev_AA_BB_CC_DD_EE_09"), ACCESS_DENIED)
            bed.agent.assert_no_output()

            # The watch is still the watch.
            self.assertIsNone(watch.write(b"OL2|C|43|N"))
            bed.agent.expect_event(
                {"type": "command_received", "protocolVersion": 2, "commandId": "43", "command": "NEXT_SLIDE"})
            bed.agent.assert_no_output()


if __name__ == "__main__":
    unittest.main()
