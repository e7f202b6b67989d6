"""What the agent publishes and reports as bluetoothd's adapters come, go and
change power."""

import os
import tempfile
import unittest

from bluez.fake_bluez import ACKNOWLEDGEMENT_UUID, COMMAND_UUID, DENY_CALLS_TO_BLUEZ, SERVICE_UUID
from bluez.testbed import ADVERTISING, POWERED_OFF, SHUTDOWN, UNKNOWN, UNSUPPORTED, Testbed, state_event
from support.agent import AgentProcess


def lower(uuids):
    return [u.lower() for u in uuids]


class PublicationTest(unittest.TestCase):
    def test_service_and_advertisement_are_registered_as_bluetoothd_needs_them(self):
        with Testbed() as bed:
            bed.expect_advertising()
            app = bed.hci0.application
            self.assertEqual([(s.uuid.lower(), s.primary) for s in app.services], [(SERVICE_UUID.lower(), True)])
            by_uuid = {c.uuid.lower(): c for c in app.services[0].characteristics}
            self.assertEqual(sorted(by_uuid), lower([COMMAND_UUID, ACKNOWLEDGEMENT_UUID]))
            command, ack = by_uuid[COMMAND_UUID.lower()], by_uuid[ACKNOWLEDGEMENT_UUID.lower()]
            # "write" alone: with write-without-response bluetoothd would answer writes itself.
            self.assertEqual(command.flags, ["write"])
            self.assertEqual(ack.flags, ["notify"])
            self.assertTrue(ack.notify_acquired)
            self.assertFalse(command.notify_acquired)
            self.assertEqual(command.descriptors + ack.descriptors, [])

            adv = bed.hci0.advertisement
            self.assertEqual(adv.owner, app.owner)
            self.assertEqual(adv.type, "peripheral")
            self.assertEqual(lower(adv.service_uuids), [SERVICE_UUID.lower()])
            self.assertEqual(adv.local_name, "OrbiLatch")
            self.assertIs(adv.properties.get("Discoverable"), True)
            bed.agent.assert_no_output()

    def test_advertising_stops_while_a_watch_is_subscribed_and_resumes_when_it_leaves(self):
        with Testbed() as bed:
            bed.expect_advertising()
            watch = bed.connect_watch()
            self.assertEqual(bed.hci0.advertisements, [])
            watch.unsubscribe()
            bed.agent.expect_event({"type": "watch_disconnected"})
            bed.agent.expect_event({"type": "ble_state_changed", "state": "disconnected"})
            bed.expect_advertising()
            self.assertEqual(len(bed.hci0.advertisements), 1)
            self.assertEqual(bed.hci0.advertisement.properties_changed, 0)

    def test_shutdown_unregisters_advertisement_and_service_and_exits_zero(self):
        with Testbed() as bed:
            bed.expect_advertising()
            agent_name = bed.hci0.application.owner
            bed.agent.send({"type": "shutdown"})
            bed.agent.expect_event(SHUTDOWN)
            self.assertEqual(bed.agent.wait_exit(), 0)
            self.assertIsNone(bed.agent.next_raw_line())
            bed.wait_for(lambda: not bed.bluez.client_on_bus(agent_name), "the agent's last messages")
            self.assertEqual([c[0] for c in bed.hci0.calls("UnregisterAdvertisement", "UnregisterApplication")],
                             ["UnregisterAdvertisement", "UnregisterApplication"])

    def test_shutdown_with_a_watch_reports_only_the_shutdown_and_does_not_advertise_again(self):
        with Testbed() as bed:
            bed.expect_advertising()
            agent_name = bed.hci0.application.owner
            bed.connect_watch()
            bed.agent.send({"type": "shutdown"})
            bed.agent.expect_event(SHUTDOWN)
            self.assertEqual(bed.agent.wait_exit(), 0)
            # Withdrawing the service ends the watch's subscription with it;
            # that is no departure to report.
            self.assertIsNone(bed.agent.next_raw_line())
            bed.wait_for(lambda: not bed.bluez.client_on_bus(agent_name), "the agent's last messages")
            self.assertEqual(len(bed.hci0.calls("UnregisterApplication")), 1)
            self.assertEqual(len(bed.hci0.calls("RegisterAdvertisement")), 1)


class PowerTest(unittest.TestCase):
    def test_power_off_is_reported_and_power_on_publishes_afresh(self):
        with Testbed() as bed:
            bed.expect_advertising()
            bed.hci0.power_off()
            bed.agent.expect_event(POWERED_OFF)
            bed.hci0.power_on()
            bed.expect_advertising()
            # The former registrations were withdrawn, not left behind.
            self.assertEqual(len(bed.hci0.applications), 1)
            self.assertEqual(len(bed.hci0.advertisements), 1)
            bed.agent.assert_no_output()

    def test_adapter_powered_off_at_start_gets_nothing_registered_until_powered(self):
        with Testbed(adapters=[{"name": "hci0", "powered": False}]) as bed:
            bed.agent.expect_event(POWERED_OFF)
            bed.agent.assert_no_output()
            self.assertEqual(bed.hci0.calls("RegisterApplication", "RegisterAdvertisement"), [])
            bed.hci0.power_on()
            bed.expect_advertising()


class BusAccessTest(unittest.TestCase):
    def test_unreachable_system_bus_is_unsupported(self):
        with tempfile.TemporaryDirectory() as directory:
            address = "unix:path=" + os.path.join(directory, "no-bus-here")
            with AgentProcess(env={"DBUS_SYSTEM_BUS_ADDRESS": address}) as agent:
                agent.expect_event(UNSUPPORTED)
                agent.assert_no_output()
                self.assertTrue(agent.is_running())

    def test_bus_that_denies_calls_to_bluetoothd_is_unauthorized(self):
        with Testbed(bus_policy=DENY_CALLS_TO_BLUEZ) as bed:
            bed.agent.expect_event(state_event("unauthorized"))
            bed.agent.assert_no_output()
            self.assertEqual(bed.hci0.log, [])


class AdapterPresenceTest(unittest.TestCase):
    def test_no_bluetoothd_is_unknown_until_it_starts(self):
        with Testbed(bluez=False) as bed:
            bed.agent.expect_event(UNKNOWN)
            bed.agent.assert_no_output()
            bed.bluez.start()
            bed.expect_advertising()

    def test_no_adapter_is_unsupported_until_one_is_plugged_in(self):
        with Testbed(adapters=()) as bed:
            bed.agent.expect_event(UNSUPPORTED)
            bed.agent.assert_no_output()
            # Its LEAdvertisingManager1 comes a moment after Adapter1, as on
            # the real stack: no transient state in between.
            bed.bluez.add_adapter("hci0")
            bed.expect_advertising()
            bed.agent.assert_no_output()

    def test_agent_waits_for_the_advertising_manager_of_a_new_adapter(self):
        with Testbed(adapters=()) as bed:
            bed.agent.expect_event(UNSUPPORTED)
            adapter = bed.bluez.add_adapter("hci0", advertising_manager=False)
            bed.agent.assert_no_output()
            self.assertEqual(adapter.calls("RegisterAdvertisement"), [])
            adapter.add_advertising_manager()
            bed.expect_advertising()

    def test_adapter_that_cannot_be_a_peripheral_is_unsupported(self):
        with Testbed(adapters=[{"name": "hci0", "roles": ["central"]}]) as bed:
            bed.agent.expect_event(UNSUPPORTED)
            bed.agent.assert_no_output()
            self.assertEqual(bed.hci0.calls("RegisterApplication"), [])

    def test_lowest_adapter_path_is_used_and_losing_the_only_adapter_is_unsupported(self):
        with Testbed(adapters=["hci1", "hci0"]) as bed:
            bed.expect_advertising("hci0")
            self.assertEqual(bed.bluez.adapter("hci1").log, [])
            bed.bluez.remove_adapter("hci1")
            bed.agent.assert_no_output()
            bed.bluez.remove_adapter("hci0")
            bed.agent.expect_event(UNSUPPORTED)
            bed.bluez.add_adapter("hci0")
            bed.expect_advertising()

    def test_agent_moves_to_the_remaining_adapter_when_its_own_goes(self):
        with Testbed(adapters=["hci0", "hci1"]) as bed:
            bed.expect_advertising("hci0")
            bed.bluez.remove_adapter("hci0")
            # Whether a state passes by on the way is the agent's choice; it
            # must end up published on hci1.
            bed.agent.events_until(ADVERTISING, allowed=[UNSUPPORTED, UNKNOWN])
            bed.wait_for(lambda: bed.bluez.adapter("hci1").advertising, "advertising on hci1")
            self.assertEqual(len(bed.bluez.adapter("hci1").applications), 1)

    def test_a_lower_adapter_that_appears_takes_over_unless_a_watch_is_served_through_the_current_one(self):
        # bluetoothd announces its adapters highest first when it starts.
        with Testbed(adapters=["hci2"]) as bed:
            bed.expect_advertising("hci2")
            bed.bluez.add_adapter("hci1")
            bed.expect_advertising("hci1")
            hci2 = bed.bluez.adapter("hci2")
            self.assertFalse(hci2.advertising)
            self.assertEqual([c[0] for c in hci2.calls("UnregisterAdvertisement", "UnregisterApplication")],
                             ["UnregisterApplication", "UnregisterAdvertisement"])

            bed.connect_watch(adapter="hci1")
            bed.bluez.add_adapter("hci0")
            bed.agent.assert_no_output()
            self.assertEqual(bed.hci0.log, [])


if __name__ == "__main__":
    unittest.main()
