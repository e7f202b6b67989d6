#include "bluetooth/bluez/AdapterState.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr AdapterFacts ready{.powered = true, .peripheralRole = true, .gattManager = true, .advertisingManager = true};

TEST(DerivedState, FollowsTheLinkToBluetoothdBeforeAnyAdapter) {
    EXPECT_EQ(deriveState(BluezLink::unreachable, ready), ManagerState::unsupported);
    EXPECT_EQ(deriveState(BluezLink::noOwner, ready), ManagerState::unknown);
    EXPECT_EQ(deriveState(BluezLink::ownerLost, ready), ManagerState::resetting);
    EXPECT_EQ(deriveState(BluezLink::accessDenied, ready), ManagerState::unauthorized);
    EXPECT_EQ(deriveState(BluezLink::pending, ready), std::nullopt);
}

TEST(DerivedState, IsUnsupportedWithoutAnAdapterThatCanServeAsPeripheral) {
    EXPECT_EQ(deriveState(BluezLink::loaded, std::nullopt), ManagerState::unsupported);
    AdapterFacts centralOnly = ready;
    centralOnly.peripheralRole = false;
    EXPECT_EQ(deriveState(BluezLink::loaded, centralOnly), ManagerState::unsupported);
    AdapterFacts noGatt = ready;
    noGatt.gattManager = false;
    EXPECT_EQ(deriveState(BluezLink::loaded, noGatt), ManagerState::unsupported);
}

TEST(DerivedState, IsPoweredOnOnlyWithPowerAndBothManagers) {
    EXPECT_EQ(deriveState(BluezLink::loaded, ready), ManagerState::poweredOn);
    AdapterFacts off = ready;
    off.powered = false;
    EXPECT_EQ(deriveState(BluezLink::loaded, off), ManagerState::poweredOff);
    off.advertisingManager = false;
    EXPECT_EQ(deriveState(BluezLink::loaded, off), ManagerState::poweredOff);
}

TEST(DerivedState, WaitsWhileAPoweredAdapterLacksItsAdvertisingManager) {
    AdapterFacts arriving = ready;
    arriving.advertisingManager = false;
    EXPECT_EQ(deriveState(BluezLink::loaded, arriving), std::nullopt);
}

TEST(StateReporter, LetsTheFirstStateThroughAndThenOnlyChanges) {
    StateReporter reporter;
    EXPECT_EQ(reporter.current(), ManagerState::unknown);
    EXPECT_EQ(reporter.report(std::nullopt), std::nullopt);
    EXPECT_EQ(reporter.report(ManagerState::unknown), ManagerState::unknown);
    EXPECT_EQ(reporter.report(ManagerState::unknown), std::nullopt);
    EXPECT_EQ(reporter.report(ManagerState::poweredOn), ManagerState::poweredOn);
    EXPECT_EQ(reporter.report(std::nullopt), std::nullopt);
    EXPECT_EQ(reporter.current(), ManagerState::poweredOn);
    EXPECT_EQ(reporter.report(ManagerState::resetting), ManagerState::resetting);
    EXPECT_EQ(reporter.report(ManagerState::poweredOn), ManagerState::poweredOn);
}

TEST(StateReporter, RepeatsTheCurrentStateOnceAfterARestart) {
    StateReporter reporter;
    reporter.report(ManagerState::poweredOn);
    reporter.restart();
    EXPECT_EQ(reporter.report(std::nullopt), std::nullopt);
    EXPECT_EQ(reporter.report(ManagerState::poweredOn), ManagerState::poweredOn);
    EXPECT_EQ(reporter.report(ManagerState::poweredOn), std::nullopt);
}

TEST(AdapterChoice, TakesTheLowestPathNumericallyButKeepsOneInUseWhileItExists) {
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci1", "/org/bluez/hci0"}, std::nullopt, false), "/org/bluez/hci0");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci10", "/org/bluez/hci2"}, std::nullopt, false), "/org/bluez/hci2");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci0", "/org/bluez/hci1"}, "/org/bluez/hci1", false), "/org/bluez/hci0");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci0", "/org/bluez/hci1"}, "/org/bluez/hci1", true), "/org/bluez/hci1");
    EXPECT_EQ(chooseAdapter({"/org/bluez/hci2", "/org/bluez/hci3"}, "/org/bluez/hci1", true), "/org/bluez/hci2");
    EXPECT_EQ(chooseAdapter({}, "/org/bluez/hci0", true), std::nullopt);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
