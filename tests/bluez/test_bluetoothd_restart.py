"""bluetoothd leaving the bus (crash, restart) and coming back."""

import unittest

from bluez.testbed import (ADVERTISING, DISCONNECTED, POWERED_OFF, RESETTING, UNSUPPORTED, WATCH_DISCONNECTED,
                           Testbed)


class BluetoothdRestartTest(unittest.TestCase):
    def test_leaving_is_resetting_and_returning_publishes_again(self):
        with Testbed() as bed:
            bed.expect_advertising()
            bed.bluez.leave()
            bed.agent.expect_event(RESETTING)
            bed.agent.assert_no_output()
            bed.bluez.start()
            bed.expect_advertising()
            self.assertEqual(len(bed.hci0.applications), 1)
            bed.agent.assert_no_output()

    def assert_watch_lost_with_bluetoothd(self, bed):
        # The socket's hang-up and the loss of org.bluez reach the agent at
        # about the same moment, in either order; the watch's departure is
        # reported once, and calls into the vanished bluetoothd are no error.
        events = [bed.agent.next_event() for _ in range(3)]
        self.assertCountEqual(events, [WATCH_DISCONNECTED, DISCONNECTED, RESETTING])
        self.assertLess(events.index(WATCH_DISCONNECTED), events.index(DISCONNECTED))
        bed.agent.assert_no_output()

    def test_watch_lost_with_bluetoothd_and_served_again_after_its_return(self):
        for hangup_first in (True, False):
            with self.subTest(hangup_first=hangup_first), Testbed() as bed:
                bed.expect_advertising()
                bed.connect_watch()
                bed.bluez.leave(hangup_first=hangup_first)
                self.assert_watch_lost_with_bluetoothd(bed)

                # Back, with the adapter powered off as a restarted bluetoothd has it.
                bed.bluez.start([{"name": "hci0", "powered": False}])
                bed.agent.expect_event(POWERED_OFF)
                bed.hci0.power_on()
                bed.expect_advertising()

                watch = bed.connect_watch()
                bed.command_round_trip(watch, "77", "S", "START_PRESENTATION")

    def test_another_watch_is_accepted_after_bluetoothd_returned(self):
        with Testbed() as bed:
            bed.expect_advertising()
            bed.connect_watch("AA:BB:CC:DD:EE:01")
            bed.bluez.leave()
            self.assert_watch_lost_with_bluetoothd(bed)
            bed.bluez.start()
            bed.expect_advertising()
            bed.connect_watch("AA:BB:CC:DD:EE:02")
            bed.agent.assert_no_output()

    def test_bluetoothd_that_owns_its_name_before_its_adapters_exist(self):
        with Testbed() as bed:
            bed.expect_advertising()
            bed.bluez.leave()
            bed.agent.expect_event(RESETTING)
            bed.bluez.start(order="name_first")
            # For a moment bluetoothd has no adapter: the agent may say so.
            bed.agent.events_until(ADVERTISING, allowed=[UNSUPPORTED])
            bed.wait_for(lambda: bed.hci0.advertising, "advertising on hci0")
            bed.agent.assert_no_output()


if __name__ == "__main__":
    unittest.main()
