"""Which central is the watch: subscriptions, departures, bonded reconnections
and centrals that are refused."""

import re
import unittest

from bluez.testbed import CONNECTED, WATCH_CONNECTED, Testbed

REJECTION = re.compile(r"Rejecting additional central "
                       r"([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}); spike allows one watch")


def acknowledge(bed, command_id):
    bed.agent.send({"type": "command_acknowledgement", "commandId": command_id, "status": "executed",
                    "protocolVersion": 2})
    bed.agent.expect_event({"type": "ack_received_from_controller", "commandId": command_id, "status": "executed"})
    frame = f"OL2|A|{command_id}|E"
    bed.agent.expect_event({"type": "ack_notified", "frame": frame, "reason": "controller_ack"})
    return frame.encode()


class SecondCentralTest(unittest.TestCase):
    def rejected_identifier(self, bed):
        line = bed.agent.next_diagnostic()
        match = REJECTION.fullmatch(line)
        self.assertIsNotNone(match, f"diagnostic {line!r}")
        return match.group(1)

    def test_second_central_is_refused_and_cannot_command(self):
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch("AA:BB:CC:DD:EE:01")
            other = bed.central("AA:BB:CC:DD:EE:02")
            other.subscribe()  # whatever the agent answers bluetoothd, the central is not the watch
            identifier = self.rejected_identifier(bed)
            self.assertEqual(identifier[14], "5", "identifier is a name-based (version 5) UUID")
            bed.agent.assert_no_output()
            self.assertFalse(bed.hci0.advertising)

            result = other.write(b"OL2|C|13|N")
            self.assertEqual((result, result.message), ("org.bluez.Error.Failed", "0x0e"))
            self.assertIsNone(watch.write(b"OL2|C|14|N"))
            bed.agent.expect_event(
                {"type": "command_received", "protocolVersion": 2, "commandId": "14", "command": "NEXT_SLIDE"})

            frame = acknowledge(bed, "14")
            self.assertEqual(watch.notification(), frame)
            other.assert_no_notification()

            # Refused again later under the same identifier; its departure goes unnoticed.
            other.unsubscribe()
            other.subscribe()
            self.assertEqual(self.rejected_identifier(bed), identifier)
            other.disconnect()
            bed.agent.assert_no_output()

            # Another device has another identifier.
            third = bed.central("5A:BB:CC:DD:EE:03", address_type="random")
            third.subscribe()
            self.assertNotEqual(self.rejected_identifier(bed), identifier)


class DepartureTest(unittest.TestCase):
    def assert_departure_reported_once(self, bed):
        bed.expect_watch_left()
        bed.agent.assert_no_output()

    def test_unsubscribing_hangs_up_the_socket_and_is_reported(self):
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            watch.unsubscribe()
            self.assert_departure_reported_once(bed)
            watch.disconnect()
            bed.agent.assert_no_output()

    def test_disconnect_is_reported_once_whichever_signal_comes_first(self):
        for order in ("hangup_first", "connected_first"):
            with self.subTest(order=order), Testbed() as bed:
                bed.expect_advertising()
                watch = bed.connect_watch()
                watch.disconnect(order)
                self.assert_departure_reported_once(bed)

    def test_unbonded_watch_that_reconnects_must_subscribe_again(self):
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            watch.disconnect()
            self.assert_departure_reported_once(bed)
            watch.reconnect()
            bed.agent.assert_no_output()
            self.assertIsNone(watch.subscribe())
            bed.agent.expect_event(WATCH_CONNECTED)
            bed.agent.expect_event(CONNECTED)


class BondedWatchTest(unittest.TestCase):
    """bluetoothd keeps a bonded watch's subscription across a disconnect and
    does not ask the application again when it comes back."""

    def run_bonded_reconnection(self, version):
        with Testbed(version) as bed:
            bed.expect_advertising()
            watch = bed.connect_watch(bonded=True)
            watch.disconnect()
            bed.expect_watch_left()

            watch.reconnect()
            bed.agent.expect_event(WATCH_CONNECTED)
            bed.agent.expect_event(CONNECTED)
            bed.wait_for(lambda: not bed.hci0.advertising, "advertising to stop")

            self.assertIsNone(watch.write(b"OL2|C|21|N"))
            bed.agent.expect_event(
                {"type": "command_received", "protocolVersion": 2, "commandId": "21", "command": "NEXT_SLIDE"})
            frame = acknowledge(bed, "21")
            self.assertEqual(watch.notification(), frame)
            watch.assert_no_notification()  # once, not by two roads
            bed.agent.assert_no_output()

    def test_bonded_watch_reconnecting_on_5_82(self):
        # Its socket hung up at the disconnect: only the characteristic's value reaches it.
        self.run_bonded_reconnection("5.82")

    def test_bonded_watch_reconnecting_on_5_66(self):
        # Its socket stays open across the disconnect.
        self.run_bonded_reconnection("5.66")

    def test_bonded_central_that_never_subscribed_is_not_a_watch_when_it_reconnects(self):
        with Testbed() as bed:
            bed.expect_advertising()
            central = bed.central("AA:BB:CC:DD:EE:05", bonded=True)
            central.disconnect()
            central.reconnect()
            bed.agent.assert_no_output()
            self.assertTrue(bed.hci0.advertising)


    def test_bonded_watch_that_unsubscribed_before_leaving_is_not_a_watch_when_it_reconnects(self):
        for version in ("5.82", "5.66"):
            with self.subTest(version=version), Testbed(version) as bed:
                bed.expect_advertising()
                watch = bed.connect_watch(bonded=True)
                watch.unsubscribe()
                bed.expect_watch_left()
                watch.disconnect()
                watch.reconnect()
                bed.agent.assert_no_output()
                self.assertTrue(bed.hci0.advertising)


if __name__ == "__main__":
    unittest.main()
