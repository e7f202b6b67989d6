#include "presenter/bus/SessionBus.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace orbilatch::presenter::bus {
namespace {

template <typename Handler>
void deleteHandler(void* handler) {
    delete static_cast<Handler*>(handler);
}

// The slot owns the handler: the handler goes when the slot does.
template <typename Handler>
system::SdBusSlotPtr owning(sd_bus_slot* slot, std::unique_ptr<Handler> handler) {
    sd_bus_slot_set_userdata(slot, handler.get());
    sd_bus_slot_set_destroy_callback(slot, &deleteHandler<Handler>);
    handler.release();
    return system::SdBusSlotPtr(slot);
}

// A copy runs, so that the reply may drop its own slot.
int onReply(sd_bus_message* message, void* handler, sd_bus_error*) {
    const Reply reply = *static_cast<Reply*>(handler);
    reply(message, sd_bus_message_get_error(message));
    return 0;
}

int onMatch(sd_bus_message* message, void* handler, sd_bus_error*) {
    (*static_cast<std::function<void(sd_bus_message*)>*>(handler))(message);
    return 0;
}

}  // namespace

std::variant<system::SdBusPtr, std::string> openSessionBus(sd_event* loop) {
    sd_bus* opened = nullptr;
    if (const int result = sd_bus_open_user(&opened); result < 0) {
        // sd-bus's word for a user without a session bus
        if (result == -ENOMEDIUM) return std::string("no session bus");
        return "no session bus: " + std::string(std::strerror(-result));
    }
    system::SdBusPtr bus(opened);
    // Else sd-bus flushes it when the loop ends, for as long as a bus daemon
    // that does not answer takes; nothing sent to a program matters then.
    sd_bus_set_close_on_exit(bus.get(), 0);
    if (const int result = sd_bus_attach_event(bus.get(), loop, SD_EVENT_PRIORITY_NORMAL); result < 0) {
        return "cannot watch the session bus: " + std::string(std::strerror(-result));
    }
    return bus;
}

Method busDaemon(const char* member) {
    return {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member};
}

bool awaitBusDaemon(sd_bus* bus, sd_event* loop, std::chrono::milliseconds bound) {
    bool answered = false;
    const system::SdBusSlotPtr question = call(bus, busDaemon("GetId"), [&answered](sd_bus_message*, const sd_bus_error*) {
        answered = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (auto now = std::chrono::steady_clock::now(); !answered && now < deadline; now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        if (sd_event_run(loop, left.count()) < 0) break;
    }
    return answered;
}

system::SdBusSlotPtr call(sd_bus* bus, const Method& method, Reply reply, const Arguments& arguments) {
    sd_bus_message* made = nullptr;
    int result = sd_bus_message_new_method_call(bus, &made, method.destination, method.path, method.interface,
                                                method.member);
    system::SdBusMessagePtr message(made);
    if (result >= 0 && arguments) result = arguments(message.get());
    // Never start a program to answer: only one that runs is driven.
    if (result >= 0) result = sd_bus_message_set_auto_start(message.get(), 0);
    sd_bus_slot* slot = nullptr;
    if (result >= 0) result = sd_bus_call_async(bus, &slot, message.get(), &onReply, nullptr, 0);
    if (result < 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_error_set_errno(&error, result);
        reply(nullptr, &error);
        sd_bus_error_free(&error);
        return nullptr;
    }
    return owning(slot, std::make_unique<Reply>(std::move(reply)));
}

system::SdBusSlotPtr subscribe(sd_bus* bus, const std::string& rule, std::function<void(sd_bus_message*)> handler) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(bus, &slot, rule.c_str(), &onMatch, nullptr, nullptr) < 0) return nullptr;
    return owning(slot, std::make_unique<std::function<void(sd_bus_message*)>>(std::move(handler)));
}

std::string describe(const sd_bus_error* error) { return error->message ? error->message : error->name; }

bool isGone(const sd_bus_error* error) {
    return sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                                  SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_DISCONNECTED);
}

}  // namespace orbilatch::presenter::bus
