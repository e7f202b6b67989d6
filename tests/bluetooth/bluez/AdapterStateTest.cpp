#include "bluetooth/bluez/AdapterState.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr AdapterFacts ready{.powered = true, .peripheralRole = true, .gattManager = true, .advertisingManager = true};

AdapterFacts without(bool AdapterFacts::*fact) {
    AdapterFacts facts = ready;
    facts.*fact = false;
    return facts;
}

TEST(AdapterState, FollowsTheLinkToBluetoothdThenTheAdapter) {
    const std::tuple<BluezLink, std::optional<AdapterFacts>, std::optional<ManagerState>> cases[] = {
        {BluezLink::unreachable, ready, ManagerState::unsupported},
        {BluezLink::noOwner, ready, ManagerState::unknown},
        {BluezLink::ownerLost, ready, ManagerState::resetting},
        {BluezLink::accessDenied, ready, ManagerState::unauthorized},
        {BluezLink::pending, ready, std::nullopt},
        {BluezLink::loaded, std::nullopt, ManagerState::unsupported},
        {BluezLink::loaded, without(&AdapterFacts::peripheralRole), ManagerState::unsupported},
        {BluezLink::loaded, without(&AdapterFacts::gattManager), ManagerState::unsupported},
        {BluezLink::loaded, without(&AdapterFacts::powered), ManagerState::poweredOff},
        // bluetoothd adds the advertising manager a moment after the adapter.
        {BluezLink::loaded, without(&AdapterFacts::advertisingManager), std::nullopt},
        {BluezLink::loaded, ready, ManagerState::poweredOn},
    };
    for (const auto& [link, adapter, expected] : cases)
        EXPECT_EQ(deriveState(link, adapter), expected) << static_cast<int>(link);
}

TEST(AdapterState, PassesWhenItChangesAndOnceMoreWhenToldTo) {
    StateChangeFilter changes;
    EXPECT_EQ(changes.pass(std::nullopt), std::nullopt);
    EXPECT_EQ(changes.pass(ManagerState::unknown), ManagerState::unknown);
    EXPECT_EQ(changes.pass(ManagerState::unknown), std::nullopt);
    EXPECT_EQ(changes.pass(ManagerState::poweredOn), ManagerState::poweredOn);
    EXPECT_EQ(changes.pass(std::nullopt), std::nullopt);
    EXPECT_EQ(changes.current(), ManagerState::poweredOn);
    changes.letNextThrough();
    EXPECT_EQ(changes.pass(ManagerState::poweredOn), ManagerState::poweredOn);
}

TEST(AdapterState, TheLowestPathIsChosenUnlessTheOneInUseIsStillThere) {
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci1", "/org/bluez/hci0"}, std::nullopt, false), "/org/bluez/hci0");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci10", "/org/bluez/hci2"}, std::nullopt, false), "/org/bluez/hci2");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci0", "/org/bluez/hci1"}, "/org/bluez/hci1", false), "/org/bluez/hci0");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci0", "/org/bluez/hci1"}, "/org/bluez/hci1", true), "/org/bluez/hci1");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci2"}, "/org/bluez/hci1", true), "/org/bluez/hci2");
    EXPECT_EQ(chooseAdapter({}, "/org/bluez/hci0", true), std::nullopt);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
