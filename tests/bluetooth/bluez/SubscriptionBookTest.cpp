#include "bluetooth/bluez/SubscriptionBook.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

using Uuids = std::vector<Uuid>;

const Uuid acknowledgement = *Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003");
const std::string watch = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";
const std::string other = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_02";

class SubscriptionBookTest : public ::testing::Test {
protected:
    SubscriptionBookTest() { book.subscribed(watch, acknowledgement); }

    SubscriptionBook book;
};

TEST_F(SubscriptionBookTest, ReportsAnUnbondedDepartureOnceWhicheverSignalComesFirstAndForgetsIt) {
    EXPECT_TRUE(book.hungUp(watch, acknowledgement));
    EXPECT_EQ(book.disconnected(watch, false), Uuids{});
    book.connectionAnswered(watch, acknowledgement, false, false);

    book.subscribed(watch, acknowledgement);
    EXPECT_EQ(book.disconnected(watch, false), Uuids{acknowledgement});
    EXPECT_FALSE(book.hungUp(watch, acknowledgement));
    EXPECT_EQ(book.reconnected(watch), Uuids{});
    EXPECT_TRUE(book.empty());
}

TEST_F(SubscriptionBookTest, ResubscribesABondedCentralThatLeftWhileSubscribed) {
    EXPECT_EQ(book.disconnected(watch, true), Uuids{acknowledgement});
    EXPECT_FALSE(book.isSubscribed(watch, acknowledgement));
    EXPECT_FALSE(book.hungUp(watch, acknowledgement));

    EXPECT_EQ(book.reconnected(watch), Uuids{acknowledgement});
    EXPECT_TRUE(book.isSubscribed(watch, acknowledgement));
    EXPECT_EQ(book.reconnected(watch), Uuids{});
}

// A hang-up is reported at once; whether the central comes back subscribed
// depends on what bluetoothd says of it.
TEST_F(SubscriptionBookTest, AHangUpIsReportedOnceAndBluetoothdsAnswerDecidesAboutTheReturn) {
    const std::tuple<bool, bool, Uuids> answers[] = {
        {false, true, {acknowledgement}},
        {false, false, {}},
    };
    for (const auto& [connected, bonded, resubscribed] : answers) {
        book.subscribed(watch, acknowledgement);
        EXPECT_TRUE(book.hungUp(watch, acknowledgement));
        EXPECT_FALSE(book.isSubscribed(watch, acknowledgement));
        book.connectionAnswered(watch, acknowledgement, connected, bonded);
        EXPECT_EQ(book.reconnected(watch), resubscribed) << connected << bonded;
        book.forget(watch);
    }
}

TEST_F(SubscriptionBookTest, ForgettingReportsOnlySubscriptionsStillStanding) {
    book.subscribed(other, acknowledgement);
    book.disconnected(other, true);
    EXPECT_EQ(book.forget(other), Uuids{});
    EXPECT_EQ(book.reconnected(other), Uuids{});
    EXPECT_EQ(book.forget(watch), Uuids{acknowledgement});

    book.subscribed(watch, acknowledgement);
    book.subscribed(other, acknowledgement);
    book.hungUp(other, acknowledgement);
    const auto ended = book.forgetAll();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].first, watch);
    EXPECT_TRUE(book.empty());
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
