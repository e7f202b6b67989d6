#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "system/SdPointers.h"

namespace orbilatch::testing {

// A dbus-daemon of the test's own, with a session bus's policy: names have
// owners, and anyone may call anyone.
class PrivateBus {
public:
    PrivateBus() : printed_(::popen("exec dbus-daemon --session --nofork --print-address=1 --print-pid=1 2>&-", "r")) {
        char address[512] = "", pid[32] = "";
        EXPECT_TRUE(printed_ && std::fgets(address, sizeof address, printed_) && std::fgets(pid, sizeof pid, printed_));
        address_.assign(address, std::strcspn(address, "\n"));
        pid_ = std::atoi(pid);
    }
    ~PrivateBus() { stop(); }

    const std::string& address() const { return address_; }
    // Every connection to it ends, without a word.
    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        if (printed_) ::pclose(printed_);
        pid_ = 0;
        printed_ = nullptr;
    }
    // A new connection, served by the loop.
    system::SdBusPtr connect(sd_event* loop) const {
        sd_bus* bus = nullptr;
        sd_bus_new(&bus);
        sd_bus_set_address(bus, address_.c_str());
        sd_bus_set_bus_client(bus, 1);
        EXPECT_GE(sd_bus_start(bus), 0);
        sd_bus_attach_event(bus, loop, 0);
        return system::SdBusPtr(bus);
    }

private:
    FILE* printed_;
    std::string address_;
    pid_t pid_ = 0;
};

// Runs the loop until done() holds, then whatever is due at once. Gives up,
// failing the test, when nothing brings it about for ten seconds: each wait is
// for a few messages on a private bus. A failed test waits no more.
inline void runUntil(sd_event* loop, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && !::testing::Test::HasFailure()) {
        if (std::chrono::steady_clock::now() > giveUp) return ADD_FAILURE() << "waited in vain";
        sd_event_run(loop, 100'000);
    }
    while (sd_event_run(loop, 0) > 0) {
    }
}

// Calls from one connection to another and waits for the reply.
inline system::SdBusMessagePtr callAndWait(sd_bus* from, sd_event* loop, const std::string& destination,
                                   const std::string& path, const char* interface, const char* member,
                                   const std::function<void(sd_bus_message*)>& append = {}) {
    sd_bus_message* call = nullptr;
    sd_bus_message_new_method_call(from, &call, destination.c_str(), path.c_str(), interface, member);
    const system::SdBusMessagePtr owned(call);
    if (append) append(call);
    system::SdBusMessagePtr reply;
    sd_bus_slot* slot = nullptr;
    const auto keep = [](sd_bus_message* answer, void* userdata, sd_bus_error*) {
        static_cast<system::SdBusMessagePtr*>(userdata)->reset(sd_bus_message_ref(answer));
        return 0;
    };
    EXPECT_GE(sd_bus_call_async(from, &slot, call, keep, &reply, 0), 0);
    const system::SdBusSlotPtr pending(slot);
    runUntil(loop, [&] { return reply != nullptr; });
    return reply;
}

// "<error name>: <message>", or nothing for a success.
inline std::string errorOf(const system::SdBusMessagePtr& reply) {
    const sd_bus_error* error = reply ? sd_bus_message_get_error(reply.get()) : nullptr;
    return error ? std::string(error->name) + ": " + error->message : "";
}

// The last element of an object path.
inline std::string lastOf(const char* path) { return path ? std::strrchr(path, '/') + 1 : ""; }

// Stands in for bluetoothd: owns org.bluez, with its adapters and one device,
// the watch, whose properties it lists; keeps every other call it receives for
// the test to answer, and notes the signals of the agent's objects. Its name
// goes with it.
class FakeBluetoothd {
public:
    static constexpr const char* adapter = "/org/bluez/hci0";
    static constexpr const char* watch = "/org/bluez/hci0/dev_00_AA_01_01_00_01";

    // What it lists when asked.
    std::vector<std::string> adapters{adapter};
    int powered = 1;
    bool advertisingManager = true;
    int connected = 1;
    int bonded = 0;

    FakeBluetoothd(const PrivateBus& bus, sd_event* loop) : loop_(loop), bus_(bus.connect(loop)) {
        sd_bus_slot* slot = nullptr;
        sd_bus_add_filter(bus_.get(), &slot, onMessage, this);
        filter_.reset(slot);
        sd_bus_add_match(bus_.get(), nullptr, "type='signal',path_namespace='/org/orbilatch'", nullptr, nullptr);
        EXPECT_GE(sd_bus_request_name(bus_.get(), "org.bluez", 0), 0);
    }
    // Gives the name up first, so that no call reaches a connection on its way out.
    ~FakeBluetoothd() { sd_bus_release_name(bus_.get(), "org.bluez"); }

    sd_bus* bus() const { return bus_.get(); }
    // The agent's unique name, once it has called.
    const std::string& agent() const { return agent_; }

    // What the agent sent since the last look, up to now: "hci0
    // RegisterApplication app0" for a call (the object called, the member and
    // the object it names), "PropertiesChanged char1" for a signal.
    std::vector<std::string> messages() {
        settle();
        return std::exchange(seen_, {});
    }
    // Answers the oldest call not yet answered, with success or the error.
    void answer(const char* errorName = nullptr, const char* message = "") {
        runUntil(loop_, [this] { return !unanswered_.empty(); });
        if (unanswered_.empty()) return;
        if (errorName) sd_bus_reply_method_errorf(unanswered_.front().get(), errorName, "%s", message);
        else sd_bus_reply_method_return(unanswered_.front().get(), nullptr);
        unanswered_.pop_front();
    }

    system::SdBusMessagePtr callAgent(const std::string& path, const char* interface, const char* member,
                              const std::function<void(sd_bus_message*)>& append = {}) {
        runUntil(loop_, [this] { return !agent_.empty(); });
        return callAndWait(bus_.get(), loop_, agent_, path, interface, member, append);
    }
    // The agent has handled everything we sent it before, and sent all it had to.
    void settle() { callAgent("/", "org.freedesktop.DBus.Peer", "Ping"); }

    void setPowered(int value) { signalChange(adapter, "org.bluez.Adapter1", "Powered", powered = value); }
    void setConnected(int value) { signalChange(watch, "org.bluez.Device1", "Connected", connected = value); }
    void signalChange(const char* path, const char* interface, const char* property, int value) {
        sd_bus_emit_signal(bus_.get(), path, "org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
                           interface, 1, property, "b", value, 0);
    }
    void signalInterfaces(bool added, const char* path, const char* interface) {
        const char* manager = "org.freedesktop.DBus.ObjectManager";
        if (added) sd_bus_emit_signal(bus_.get(), "/", manager, "InterfacesAdded", "oa{sa{sv}}", path, 1, interface, 0);
        else sd_bus_emit_signal(bus_.get(), "/", manager, "InterfacesRemoved", "oas", path, 1, interface);
    }
    // A powered adapter registered, with or without its advertising manager yet.
    void addAdapter(const std::string& path, bool advertising) {
        adapters.push_back(path);
        sd_bus_message* signal = nullptr;
        sd_bus_message_new_signal(bus_.get(), &signal, "/", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded");
        const system::SdBusMessagePtr owned(signal);
        appendAdapter(signal, path, advertising);
        sd_bus_send(bus_.get(), signal, nullptr);
    }

private:
    void appendAdapter(sd_bus_message* m, const std::string& path, bool advertising) const {
        const std::string address = "00:AA:01:0" + path.substr(path.size() - 1) + ":00:00";
        sd_bus_message_append(m, "oa{sa{sv}}", path.c_str(), 3, "org.bluez.Adapter1", 3, "Address", "s",
                              address.c_str(), "Powered", "b", powered, "Roles", "as", 2, "central", "peripheral",
                              "org.bluez.GattManager1", 0,
                              advertising ? "org.bluez.LEAdvertisingManager1" : "org.bluez.Media1", 0);
    }
    int listObjects(sd_bus_message* call) const {
        sd_bus_message* reply = nullptr;
        sd_bus_message_new_method_return(call, &reply);
        const system::SdBusMessagePtr owned(reply);
        sd_bus_message_open_container(reply, 'a', "{oa{sa{sv}}}");
        for (const std::string& path : adapters) {
            sd_bus_message_open_container(reply, 'e', "oa{sa{sv}}");
            appendAdapter(reply, path, advertisingManager);
            sd_bus_message_close_container(reply);
        }
        sd_bus_message_append(reply, "{oa{sa{sv}}}", watch, 1, "org.bluez.Device1", 5, "Adapter", "o", adapter,
                              "Address", "s", "00:AA:01:01:00:01", "AddressType", "s", "public", "Connected", "b",
                              connected, "Bonded", "b", bonded);
        sd_bus_message_close_container(reply);
        return sd_bus_send(nullptr, reply, nullptr);
    }

    static int onMessage(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& fake = *static_cast<FakeBluetoothd*>(userdata);
        const std::string member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
        const char* path = sd_bus_message_get_path(message);
        if (sd_bus_message_is_signal(message, nullptr, nullptr) > 0 && std::strncmp(path, "/org/orbilatch", 14) == 0)
            fake.seen_.push_back(member + " " + lastOf(path));
        if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0) return 0;
        fake.agent_ = sd_bus_message_get_sender(message);
        if (member == "GetAll")
            return sd_bus_reply_method_return(message, "a{sv}", 2, "Connected", "b", fake.connected, "Bonded", "b",
                                              fake.bonded);
        if (member == "GetManagedObjects") return fake.listObjects(message);
        const char* named = nullptr;
        sd_bus_message_read_basic(message, SD_BUS_TYPE_OBJECT_PATH, &named);
        fake.seen_.push_back(lastOf(path) + " " + member + " " + lastOf(named));
        if (sd_bus_message_get_expect_reply(message)) fake.unanswered_.emplace_back(sd_bus_message_ref(message));
        return 1;
    }

    sd_event* loop_;
    system::SdBusPtr bus_;
    system::SdBusSlotPtr filter_;
    std::string agent_;
    std::vector<std::string> seen_;
    std::deque<system::SdBusMessagePtr> unanswered_;
};

}  // namespace orbilatch::testing
