#include "bluetooth/bluez/Registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/BusPair.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RegistrationTest : public ::testing::Test {
protected:
    testing::BusPair bus;
    std::vector<std::string> outcomes;
    Registration registration{bus.ours(), Registration::advertisingManager, "/org/bluez/hci0", "/adv0",
                              [this](std::string_view message) { outcomes.push_back("diagnostic " + std::string(message)); }};

    void request() {
        ASSERT_EQ(registration.request([this](const std::optional<PlatformError>& error) {
            outcomes.push_back(error ? "error " + error->description : "registered");
        }), 0);
    }
};

TEST_F(RegistrationTest, AnAnswerAfterTheWithdrawalIsStillReportedAndThenUndone) {
    request();
    EXPECT_THAT(bus.newCalls(), ElementsAre("RegisterAdvertisement(/adv0)"));
    registration.withdraw();
    EXPECT_THAT(bus.newCalls(), IsEmpty());
    EXPECT_FALSE(registration.settled());

    bus.answer();
    EXPECT_THAT(outcomes, ElementsAre("registered"));
    EXPECT_THAT(bus.newCalls(), ElementsAre("UnregisterAdvertisement(/adv0)"));
    EXPECT_TRUE(registration.settled());
}

TEST_F(RegistrationTest, AWithdrawalOfWhatIsRegisteredGoesOutAtOnce) {
    request();
    bus.newCalls();
    bus.answer();
    EXPECT_TRUE(registration.registered());
    registration.withdraw();
    EXPECT_THAT(bus.newCalls(), ElementsAre("UnregisterAdvertisement(/adv0)"));
    EXPECT_TRUE(registration.settled());
}

TEST_F(RegistrationTest, ARefusalIsReportedInBluetoothdsWordsAndAnAnswerFromNobodyNotAtAll) {
    request();
    bus.newCalls();
    bus.answer("org.bluez.Error.NotPermitted", "Maximum advertisements reached");
    EXPECT_THAT(outcomes, ElementsAre("error Maximum advertisements reached"));
    EXPECT_TRUE(registration.settled());

    request();
    bus.newCalls();
    bus.answer("org.freedesktop.DBus.Error.NoReply", "Message recipient disconnected from message bus");
    EXPECT_THAT(outcomes, ElementsAre("error Maximum advertisements reached"));
    EXPECT_TRUE(registration.settled());
    EXPECT_THAT(bus.newCalls(), IsEmpty());
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
