#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bluetooth/bluez/BluezObjects.h"
#include "fakes/PrivateBus.h"

namespace orbilatch::testing {

using bluetooth::bluez::InterfaceProperties;
using bluetooth::bluez::Properties;

inline SdEventPtr newEventLoop() {
    sd_event* loop = nullptr;
    EXPECT_GE(sd_event_new(&loop), 0);
    return SdEventPtr(loop);
}

// Runs the loop until done() holds, then runs whatever is due at once. Gives
// up, failing the test, only when nothing brings it about for a minute.
inline void runUntil(sd_event* loop, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            ADD_FAILURE() << "waited in vain";
            return;
        }
        sd_event_run(loop, 100'000);
    }
    while (sd_event_run(loop, 0) > 0) {
    }
}

// The next value of a message as text: arrays in brackets, dictionary entries
// as key=value, variants as their content.
inline std::string valueText(sd_bus_message* message) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) <= 0) return "";
    if (type == 'a' || type == 'v' || type == 'r' || type == 'e') {
        sd_bus_message_enter_container(message, type, contents);
        std::string text;
        for (bool first = true; sd_bus_message_at_end(message, false) == 0; first = false)
            text += (first ? "" : type == 'e' ? "=" : ",") + valueText(message);
        sd_bus_message_exit_container(message);
        return type == 'a' ? "[" + text + "]" : text;
    }
    union {
        int flag;
        std::uint16_t number16;
        std::uint64_t number;
        const char* string;
    } value{};
    sd_bus_message_read_basic(message, type, &value);
    if (type == 'b') return value.flag ? "true" : "false";
    if (type == 's' || type == 'o') return value.string;
    if (type == 'q') return std::to_string(value.number16);
    return type == 'h' ? "fd" : std::to_string(value.number);
}

// A reply as text: "<error name>: <message>", or its values.
inline std::string replyText(sd_bus_message* reply) {
    if (const sd_bus_error* error = sd_bus_message_get_error(reply))
        return std::string(error->name) + ": " + error->message;
    sd_bus_message_rewind(reply, true);
    std::string text;
    while (sd_bus_message_at_end(reply, true) == 0) text += (text.empty() ? "" : " ") + valueText(reply);
    return text;
}

// Calls from one connection to another and waits for the answer.
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

// Stands in for bluetoothd: owns org.bluez on a private bus, lists its objects
// and their properties, signals their changes, and keeps every other call it
// receives for the test to answer. Its name goes with it.
class FakeBluetoothd {
public:
    using Objects = std::map<std::string, InterfaceProperties>;

    FakeBluetoothd(const PrivateBus& bus, sd_event* loop, Objects objects)
        : loop_(loop), bus_(bus.connect(loop)), objects_(std::move(objects)) {
        sd_bus_slot* slot = nullptr;
        EXPECT_GE(sd_bus_add_filter(bus_.get(), &slot, onCall, this), 0);
        filter_.reset(slot);
        EXPECT_GE(sd_bus_request_name(bus_.get(), "org.bluez", 0), 0);
    }
    // Gives the name up before it goes, so that no call is sent to it after.
    ~FakeBluetoothd() { sd_bus_release_name(bus_.get(), "org.bluez"); }
    FakeBluetoothd(const FakeBluetoothd&) = delete;
    FakeBluetoothd& operator=(const FakeBluetoothd&) = delete;

    sd_bus* bus() const { return bus_.get(); }
    // The agent's unique name, once it has called us.
    const std::string& agent() const { return agent_; }

    // The calls received since the last look, as "Member(first argument)".
    std::vector<std::string> newCalls() {
        runUntil(loop_, [] { return true; });
        return std::exchange(seen_, {});
    }
    std::vector<std::string> awaitCalls() {
        runUntil(loop_, [this] { return !seen_.empty(); });
        return newCalls();
    }

    // Answers the oldest call not yet answered, with success or the error.
    void answer(const char* errorName = nullptr, const char* message = "") {
        runUntil(loop_, [this] { return !unanswered_.empty(); });
        if (unanswered_.empty()) return;
        sd_bus_message* call = unanswered_.front().get();
        if (errorName) sd_bus_reply_method_errorf(call, errorName, "%s", message);
        else sd_bus_reply_method_return(call, nullptr);
        unanswered_.pop_front();
    }

    SdBusMessagePtr callAgent(const std::string& path, const char* interface, const char* member,
                              const std::function<void(sd_bus_message*)>& append = {}) {
        return callAndWait(bus_.get(), loop_, agent_, path, interface, member, append);
    }
    // The agent has handled everything we sent it before.
    void settle() { callAgent("/", "org.freedesktop.DBus.Peer", "Ping"); }

    void add(const std::string& path, const InterfaceProperties& interfaces) {
        for (const auto& [interface, properties] : interfaces) objects_[path][interface] = properties;
        signal("/", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", [&](sd_bus_message* m) {
            sd_bus_message_append(m, "o", path.c_str());
            appendInterfaces(m, interfaces);
        });
    }
    void remove(const std::string& path, const std::string& interface) {
        objects_[path].erase(interface);
        signal("/", "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved",
               [&](sd_bus_message* m) { sd_bus_message_append(m, "oas", path.c_str(), 1, interface.c_str()); });
    }
    void change(const std::string& path, const std::string& interface, const Properties& changed) {
        for (const auto& [name, value] : changed) objects_[path][interface][name] = value;
        signal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged", [&](sd_bus_message* m) {
            sd_bus_message_append(m, "s", interface.c_str());
            appendProperties(m, changed);
            sd_bus_message_append(m, "as", 0);
        });
    }

private:
    void signal(const std::string& path, const char* interface, const char* member,
                const std::function<void(sd_bus_message*)>& append) {
        sd_bus_message* made = nullptr;
        sd_bus_message_new_signal(bus_.get(), &made, path.c_str(), interface, member);
        const SdBusMessagePtr message(made);
        append(made);
        EXPECT_GE(sd_bus_send(bus_.get(), made, nullptr), 0);
    }

    static void appendProperties(sd_bus_message* m, const Properties& properties) {
        sd_bus_message_open_container(m, 'a', "{sv}");
        for (const auto& [name, value] : properties) {
            sd_bus_message_open_container(m, 'e', "sv");
            sd_bus_message_append(m, "s", name.c_str());
            if (const bool* flag = std::get_if<bool>(&value)) sd_bus_message_append(m, "v", "b", int(*flag));
            if (const auto* text = std::get_if<std::string>(&value)) sd_bus_message_append(m, "v", "s", text->c_str());
            if (const auto* texts = std::get_if<std::vector<std::string>>(&value)) {
                std::vector<char*> list;
                for (const std::string& item : *texts) list.push_back(const_cast<char*>(item.c_str()));
                list.push_back(nullptr);
                sd_bus_message_open_container(m, 'v', "as");
                sd_bus_message_append_strv(m, list.data());
                sd_bus_message_close_container(m);
            }
            sd_bus_message_close_container(m);
        }
        sd_bus_message_close_container(m);
    }
    static void appendInterfaces(sd_bus_message* m, const InterfaceProperties& interfaces) {
        sd_bus_message_open_container(m, 'a', "{sa{sv}}");
        for (const auto& [interface, properties] : interfaces) {
            sd_bus_message_open_container(m, 'e', "sa{sv}");
            sd_bus_message_append(m, "s", interface.c_str());
            appendProperties(m, properties);
            sd_bus_message_close_container(m);
        }
        sd_bus_message_close_container(m);
    }

    // Answers for the objects; keeps other calls.
    static int onCall(sd_bus_message* call, void* userdata, sd_bus_error*) {
        auto& fake = *static_cast<FakeBluetoothd*>(userdata);
        if (sd_bus_message_is_method_call(call, nullptr, nullptr) <= 0) return 0;
        fake.agent_ = sd_bus_message_get_sender(call);
        if (sd_bus_message_is_method_call(call, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects") > 0) {
            return fake.reply(call, [&](sd_bus_message* m) {
                sd_bus_message_open_container(m, 'a', "{oa{sa{sv}}}");
                for (const auto& [path, interfaces] : fake.objects_) {
                    sd_bus_message_open_container(m, 'e', "oa{sa{sv}}");
                    sd_bus_message_append(m, "o", path.c_str());
                    appendInterfaces(m, interfaces);
                    sd_bus_message_close_container(m);
                }
                sd_bus_message_close_container(m);
            });
        }
        if (sd_bus_message_is_method_call(call, "org.freedesktop.DBus.Properties", "GetAll") > 0) {
            const char* interface = nullptr;
            sd_bus_message_read(call, "s", &interface);
            const Properties& properties = fake.objects_[sd_bus_message_get_path(call)][interface];
            return fake.reply(call, [&](sd_bus_message* m) { appendProperties(m, properties); });
        }
        const char* argument = nullptr;
        sd_bus_message_read_basic(call, SD_BUS_TYPE_OBJECT_PATH, &argument);
        fake.seen_.push_back(std::string(sd_bus_message_get_member(call)) + "(" + (argument ? argument : "") + ")");
        fake.unanswered_.emplace_back(sd_bus_message_ref(call));
        return 1;
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
    Objects objects_;
    SdBusSlotPtr filter_;
    std::string agent_;
    std::vector<std::string> seen_;
    std::deque<SdBusMessagePtr> unanswered_;
};

}  // namespace orbilatch::testing
