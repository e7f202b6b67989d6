"""bluetoothd refusing the service or the advertisement: the error's own text
reaches the controller and standard error, and the next power-on tries again."""

import unittest

from bluez.testbed import DISCONNECTED, POWERED_OFF, WATCH_DISCONNECTED, Testbed, state_event


class ServiceAddFailureTest(unittest.TestCase):
    def test_refused_application_is_reported_with_bluetoothds_text(self):
        cases = [
            ("org.bluez.Error.Failed", "Failed to create entry in database"),  # answered after GetManagedObjects
            ("org.bluez.Error.AlreadyExists", "Already Exists"),  # answered at once
        ]
        with Testbed(adapters=[{"name": "hci0", "powered": False}]) as bed:
            bed.agent.expect_event(POWERED_OFF)
            for name, text in cases:
                with self.subTest(error=name):
                    bed.hci0.fail_next_application(name, text)
                    bed.hci0.power_on()
                    bed.agent.expect_event(state_event("error", text))
                    bed.agent.expect_diagnostic("Service add failed: " + text)
                    bed.agent.assert_no_output()
                    self.assertEqual(bed.hci0.calls("RegisterAdvertisement"), [])
                    bed.hci0.power_off()
                    bed.agent.expect_event(POWERED_OFF)

            bed.hci0.power_on()
            bed.expect_advertising()


class AdvertisingFailureTest(unittest.TestCase):
    def test_refused_advertisement_is_reported_and_the_service_stays(self):
        cases = [
            ("org.bluez.Error.NotPermitted", "Maximum advertisements reached"),
            ("org.bluez.Error.Failed", "Failed to register advertisement"),
        ]
        with Testbed(adapters=[{"name": "hci0", "powered": False}]) as bed:
            bed.agent.expect_event(POWERED_OFF)
            for name, text in cases:
                with self.subTest(error=name):
                    bed.hci0.fail_next_advertisement(name, text)
                    bed.hci0.power_on()
                    bed.agent.expect_event(state_event("error", text))
                    bed.agent.expect_diagnostic("Advertising failed: " + text)
                    bed.agent.assert_no_output()
                    self.assertEqual(len(bed.hci0.applications), 1)
                    self.assertFalse(bed.hci0.advertising)
                    bed.hci0.power_off()
                    bed.agent.expect_event(POWERED_OFF)

            bed.hci0.power_on()
            bed.expect_advertising()

    def test_refused_restart_of_advertising_after_the_watch_left(self):
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            bed.hci0.fail_next_advertisement("org.bluez.Error.NotPermitted", "Maximum advertisements reached")
            watch.unsubscribe()
            bed.agent.expect_event(WATCH_DISCONNECTED)
            bed.agent.expect_event(DISCONNECTED)
            bed.agent.expect_event(state_event("error", "Maximum advertisements reached"))
            bed.agent.expect_diagnostic("Advertising failed: Maximum advertisements reached")
            bed.agent.assert_no_output()

            # The next watch is still served.
            other = bed.connect_watch("AA:BB:CC:DD:EE:02")
            self.assertIsNone(other.write(b"OL2|C|5|B"))
            bed.agent.expect_event({"type": "command_received", "protocolVersion": 2, "commandId": "5",
                                    "command": "TOGGLE_BLACK_SCREEN"})


if __name__ == "__main__":
    unittest.main()
