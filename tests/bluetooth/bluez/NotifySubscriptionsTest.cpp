#include "bluetooth/bluez/NotifySubscriptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include "fakes/ManualQueue.h"

namespace orbilatch::bluetooth::bluez {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Uuid acknowledgement = *Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003");
const std::string watch = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";
const std::vector<std::uint8_t> frame{'O', 'L', '2', '|', 'A', '|', '7', '|', 'E'};

// Real socket pairs on a real event loop; bluetoothd's end is held by the test.
class NotifySubscriptionsTest : public ::testing::Test,
                                private NotifySubscriptions::Listener,
                                private NotifySubscriptions::Bluetoothd {
protected:
    NotifySubscriptionsTest() {
        sd_event* event = nullptr;
        sd_event_new(&event);
        loop_.reset(event);
        NotifySubscriptions::Bluetoothd& bluetoothd = *this;
        NotifySubscriptions::Listener& listener = *this;
        subscriptions_ = std::make_unique<NotifySubscriptions>(
            event, queue_, bluetoothd, listener,
            [this](std::string_view message) { heard_.push_back("diagnostic " + std::string(message)); });
    }

    void subscribeWatch() {
        ASSERT_EQ(subscriptions_->acquire(watch, acknowledgement, [this](int fd) {
            bluetoothdEnd_ = FileDescriptor(::dup(fd));
            return 0;
        }), 0);
    }
    bool send() { return subscriptions_->send(watch, acknowledgement, frame); }
    void runLoop() {
        while (sd_event_run(loop_.get(), 0) > 0) {
        }
        queue_.advance();
    }
    std::vector<std::string> heard() { return std::exchange(heard_, {}); }

    testing::ManualQueue queue_;
    SdEventPtr loop_;
    std::unique_ptr<NotifySubscriptions> subscriptions_;
    FileDescriptor bluetoothdEnd_;
    std::vector<std::string> heard_;

private:
    void subscribed(const std::string& device, const Uuid&) override { heard_.push_back("subscribed " + device); }
    void unsubscribed(const std::string& device, const Uuid&) override { heard_.push_back("unsubscribed " + device); }
    void readyToSend() override { heard_.push_back("ready"); }
    std::optional<DeviceFacts> device(const std::string&) const override {
        DeviceFacts connected;
        connected.connected = true;
        return connected;
    }
    int askWhetherConnected(const std::string&, std::function<void(bool)>, SdBusSlotPtr&) override { return 0; }
    bool announceValue(const Uuid&, std::span<const std::uint8_t>) override { return false; }
};

TEST_F(NotifySubscriptionsTest, AFullSocketRefusesAndSaysWhenThereIsRoomAgain) {
    subscribeWatch();
    heard();
    int sent = 0;
    while (send()) ++sent;
    runLoop();
    EXPECT_THAT(heard(), IsEmpty());

    std::uint8_t received[32];
    for (int i = 0; i < sent; ++i) ::recv(bluetoothdEnd_.get(), received, sizeof received, 0);
    runLoop();
    runLoop();
    EXPECT_THAT(heard(), ElementsAre("ready"));
}

// bluetoothd closed its end, and the notification is due before the loop has
// seen the hang-up: the watch is gone, so it is reported gone before the
// sender is told to try again, and the hang-up that follows says nothing more.
TEST_F(NotifySubscriptionsTest, AWatchThatCannotBeReachedIsReportedGoneBeforeReadiness) {
    subscribeWatch();
    heard();
    bluetoothdEnd_.reset();
    EXPECT_FALSE(send());
    EXPECT_THAT(heard(), IsEmpty());
    runLoop();
    EXPECT_THAT(heard(), ElementsAre("unsubscribed " + watch, "ready"));

    EXPECT_FALSE(send());
    runLoop();
    EXPECT_THAT(heard(), ElementsAre("unsubscribed " + watch, "ready"));
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
