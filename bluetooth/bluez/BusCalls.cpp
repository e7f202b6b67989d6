#include "bluetooth/bluez/BusCalls.h"

#include <memory>

namespace orbilatch::bluetooth::bluez {
namespace {

int dispatch(sd_bus_message* message, void* userdata, sd_bus_error*) {
    (*static_cast<MessageHandler*>(userdata))(message);
    return 0;
}

void destroyHandler(void* userdata) { delete static_cast<MessageHandler*>(userdata); }

// The handler lives as long as the slot: sd-bus drops the slot's last
// reference only after a running callback has returned.
void adoptHandler(sd_bus_slot* slot, std::unique_ptr<MessageHandler> handler, system::SdBusSlotPtr& owner) {
    sd_bus_slot_set_destroy_callback(slot, destroyHandler);
    handler.release();
    owner.reset(slot);
}

}  // namespace

int newCall(sd_bus* bus, const char* destination, const char* path, const char* interface, const char* member,
            system::SdBusMessagePtr& call) {
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(bus, &message, destination, path, interface, member);
    if (r < 0) return r;
    call.reset(message);
    return sd_bus_message_set_auto_start(message, 0);
}

int callAsync(sd_bus* bus, sd_bus_message* call, MessageHandler onReply, system::SdBusSlotPtr& slot,
              std::chrono::microseconds timeout) {
    auto handler = std::make_unique<MessageHandler>(std::move(onReply));
    sd_bus_slot* made = nullptr;
    const int r = sd_bus_call_async(bus, &made, call, dispatch, handler.get(), timeout.count());
    if (r < 0) return r;
    adoptHandler(made, std::move(handler), slot);
    return 0;
}

int sendWithoutReply(sd_bus* bus, sd_bus_message* call) {
    const int r = sd_bus_message_set_expect_reply(call, 0);
    return r < 0 ? r : sd_bus_send(bus, call, nullptr);
}

int addMatch(sd_bus* bus, const std::string& rule, MessageHandler onSignal, system::SdBusSlotPtr& slot) {
    auto handler = std::make_unique<MessageHandler>(std::move(onSignal));
    sd_bus_slot* made = nullptr;
    const int r = sd_bus_add_match_async(bus, &made, rule.c_str(), dispatch, nullptr, handler.get());
    if (r < 0) return r;
    adoptHandler(made, std::move(handler), slot);
    return 0;
}

}  // namespace orbilatch::bluetooth::bluez
