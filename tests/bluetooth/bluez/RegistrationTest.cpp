#include "bluetooth/bluez/Registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/FakeBluetoothd.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RegistrationTest : public ::testing::Test {
protected:
    SdEventPtr loop = testing::newEventLoop();
    testing::PrivateBus bus;
    SdBusPtr ours = bus.connect(loop.get());
    std::optional<testing::FakeBluetoothd> bluez{std::in_place, bus, loop.get()};
    std::vector<std::string> outcomes;
    Registration registration{ours.get(), Registration::advertisingManager, "/org/bluez/hci0", "/adv0",
                              [this](std::string_view message) { outcomes.push_back("diagnostic " + std::string(message)); }};

    void request() {
        ASSERT_EQ(registration.request([this](const std::optional<PlatformError>& error) {
            outcomes.push_back(error ? "error " + error->description : "registered");
        }), 0);
    }
    void settle() { testing::runUntil(loop.get(), [this] { return registration.settled(); }); }
};

TEST_F(RegistrationTest, AnAnswerAfterTheWithdrawalIsStillReportedAndThenUndone) {
    request();
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("RegisterAdvertisement(/adv0)"));
    registration.withdraw();
    bluez->settle();
    EXPECT_THAT(bluez->newMessages(), IsEmpty());
    EXPECT_FALSE(registration.settled());

    bluez->answer();
    settle();
    EXPECT_THAT(outcomes, ElementsAre("registered"));
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("UnregisterAdvertisement(/adv0)"));
}

TEST_F(RegistrationTest, AWithdrawalOfWhatIsRegisteredGoesOutAtOnce) {
    request();
    bluez->answer();
    testing::runUntil(loop.get(), [this] { return registration.registered(); });
    bluez->newMessages();
    registration.withdraw();
    EXPECT_THAT(bluez->awaitMessages(), ElementsAre("UnregisterAdvertisement(/adv0)"));
    EXPECT_TRUE(registration.settled());
}

// A refusal, and a request bluetoothd never answered, are outcomes in the
// bus's words; an answer for a bluetoothd that has gone, or from our own
// connection as it ends, is none: the state update that follows stands for it.
TEST_F(RegistrationTest, WhatIsAnOutcome) {
    request();
    bluez->answer("org.bluez.Error.NotPermitted", "Maximum advertisements reached");
    settle();
    sd_bus_set_method_call_timeout(ours.get(), 1000);
    request();
    settle();
    sd_bus_set_method_call_timeout(ours.get(), 0);
    bluez.reset();
    request();
    settle();
    bluez.emplace(bus, loop.get());
    request();
    bluez->awaitMessages();
    bus.stop();
    settle();
    EXPECT_THAT(outcomes, ElementsAre("error Maximum advertisements reached", "error Method call timed out"));
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
