#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fakes/PrivateBus.h"

namespace orbilatch::testing {

inline SdEventPtr newEventLoop() {
    sd_event* loop = nullptr;
    EXPECT_GE(sd_event_new(&loop), 0);
    return SdEventPtr(loop);
}

// Runs the loop until done() holds, then whatever is due at once. Gives up,
// failing the test, when nothing brings it about for ten seconds: each wait is
// for a few messages on a private bus.
inline void runUntil(sd_event* loop, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        // A failed test does not wait for what follows from what failed.
        if (::testing::Test::HasFailure()) return;
        if (std::chrono::steady_clock::now() > giveUp) return ADD_FAILURE() << "waited in vain";
        sd_event_run(loop, 100'000);
    }
    while (sd_event_run(loop, 0) > 0) {
    }
}

// Calls from one connection to another and waits for the reply.
inline SdBusMessagePtr callAndWait(sd_bus* from, sd_event* loop, const std::string& destination,
                                   const std::string& path, const char* interface, const char* member,
                                   const std::function<void(sd_bus_message*)>& append = {}) {
    sd_bus_message* made = nullptr;
    sd_bus_message_new_method_call(from, &made, destination.c_str(), path.c_str(), interface, member);
    const SdBusMessagePtr call(made);
    if (append) append(made);
    SdBusMessagePtr reply;
    sd_bus_slot* slot = nullptr;
    const auto keep = [](sd_bus_message* answer, void* userdata, sd_bus_error*) {
        static_cast<SdBusMessagePtr*>(userdata)->reset(sd_bus_message_ref(answer));
        return 0;
    };
    EXPECT_GE(sd_bus_call_async(from, &slot, made, keep, &reply, 0), 0);
    const SdBusSlotPtr pending(slot);
    runUntil(loop, [&] { return reply != nullptr; });
    return reply;
}

// "<error name>: <message>", or nothing for a success.
inline std::string errorOf(sd_bus_message* reply) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    return error ? std::string(error->name) + ": " + error->message : "";
}

// Stands in for bluetoothd on a private bus: owns org.bluez, with one adapter
// and one device, the watch, whose properties it answers for; keeps every other
// call it receives for the test to answer, and notes the properties the agent
// says have changed. Its name goes with it.
class FakeBluetoothd {
public:
    static constexpr const char* adapter = "/org/bluez/hci0";
    static constexpr const char* watch = "/org/bluez/hci0/dev_00_AA_01_01_00_01";

    // What it lists when the agent asks.
    int powered = 1;
    bool advertisingManager = true;
    int connected = 1;
    int bonded = 0;

    FakeBluetoothd(const PrivateBus& bus, sd_event* loop) : loop_(loop), bus_(bus.connect(loop)) {
        sd_bus_slot* slot = nullptr;
        EXPECT_GE(sd_bus_add_filter(bus_.get(), &slot, onMessage, this), 0);
        filter_.reset(slot);
        EXPECT_GE(sd_bus_add_match(bus_.get(), nullptr, "type='signal',path_namespace='/org/orbilatch'", nullptr,
                                   nullptr), 0);
        EXPECT_GE(sd_bus_request_name(bus_.get(), "org.bluez", 0), 0);
    }
    // Gives the name up first, so that no call reaches a connection on its way out.
    ~FakeBluetoothd() { sd_bus_release_name(bus_.get(), "org.bluez"); }
    FakeBluetoothd(const FakeBluetoothd&) = delete;
    FakeBluetoothd& operator=(const FakeBluetoothd&) = delete;

    sd_bus* bus() const { return bus_.get(); }
    // The agent's unique name, once it has called.
    const std::string& agent() const { return agent_; }

    // What arrived since the last look: "Member(first argument)" for a call,
    // "Member(path)" for a signal.
    std::vector<std::string> newMessages() {
        runUntil(loop_, [] { return true; });
        return std::exchange(seen_, {});
    }
    std::vector<std::string> awaitMessages() {
        runUntil(loop_, [this] { return !seen_.empty(); });
        return newMessages();
    }

    // Answers the oldest call not yet answered, with success or the error.
    void answer(const char* errorName = nullptr, const char* message = "") {
        runUntil(loop_, [this] { return !unanswered_.empty(); });
        if (unanswered_.empty()) return;
        if (errorName) sd_bus_reply_method_errorf(unanswered_.front().get(), errorName, "%s", message);
        else sd_bus_reply_method_return(unanswered_.front().get(), nullptr);
        unanswered_.pop_front();
    }

    SdBusMessagePtr callAgent(const std::string& path, const char* interface, const char* member,
                              const std::function<void(sd_bus_message*)>& append = {}) {
        return callAndWait(bus_.get(), loop_, agent_, path, interface, member, append);
    }
    // The agent has handled everything we sent it before, and said all it had to.
    void settle() {
        runUntil(loop_, [this] { return !agent_.empty(); });
        callAgent("/", "org.freedesktop.DBus.Peer", "Ping");
    }

    void setPowered(int value) { changed(adapter, "org.bluez.Adapter1", "Powered", powered = value); }
    void setConnected(int value) { changed(watch, "org.bluez.Device1", "Connected", connected = value); }
    void changed(const char* path, const char* interface, const char* property, int value) {
        EXPECT_GE(sd_bus_emit_signal(bus_.get(), path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                     "sa{sv}as", interface, 1, property, "b", value, 0), 0);
    }

private:
    static int onMessage(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& fake = *static_cast<FakeBluetoothd*>(userdata);
        const std::string member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
        if (sd_bus_message_is_signal(message, nullptr, nullptr) > 0) {
            const std::string path = sd_bus_message_get_path(message);
            if (path.starts_with("/org/orbilatch")) fake.seen_.push_back(member + "(" + path + ")");
            return 0;
        }
        if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0) return 0;
        fake.agent_ = sd_bus_message_get_sender(message);
        if (member == "GetManagedObjects") return fake.reply(message, [&](sd_bus_message* m) { fake.appendObjects(m); });
        if (member == "GetAll")
            return fake.reply(message, [&](sd_bus_message* m) {
                sd_bus_message_append(m, "a{sv}", 2, "Connected", "b", fake.connected, "Bonded", "b", fake.bonded);
            });
        const char* argument = nullptr;
        sd_bus_message_read_basic(message, SD_BUS_TYPE_OBJECT_PATH, &argument);
        fake.seen_.push_back(member + "(" + (argument ? argument : "") + ")");
        fake.unanswered_.emplace_back(sd_bus_message_ref(message));
        return 1;
    }

    void appendObjects(sd_bus_message* m) const {
        sd_bus_message_open_container(m, 'a', "{oa{sa{sv}}}");
        sd_bus_message_append(m, "{oa{sa{sv}}}", adapter, advertisingManager ? 3 : 2, "org.bluez.Adapter1", 3,
                              "Address", "s", "00:AA:01:00:00:00", "Powered", "b", powered, "Roles", "as", 2,
                              "central", "peripheral", "org.bluez.GattManager1", 0,
                              "org.bluez.LEAdvertisingManager1", 0);
        sd_bus_message_append(m, "{oa{sa{sv}}}", watch, 1, "org.bluez.Device1", 5, "Adapter", "o", adapter,
                              "Address", "s", "00:AA:01:01:00:01", "AddressType", "s", "public", "Connected", "b",
                              connected, "Bonded", "b", bonded);
        sd_bus_message_close_container(m);
    }

    int reply(sd_bus_message* call, const std::function<void(sd_bus_message*)>& append) {
        sd_bus_message* made = nullptr;
        sd_bus_message_new_method_return(call, &made);
        const SdBusMessagePtr reply(made);
        append(made);
        sd_bus_send(bus_.get(), made, nullptr);
        return 1;
    }

    sd_event* loop_;
    SdBusPtr bus_;
    SdBusSlotPtr filter_;
    std::string agent_;
    std::vector<std::string> seen_;
    std::deque<SdBusMessagePtr> unanswered_;
};

}  // namespace orbilatch::testing
