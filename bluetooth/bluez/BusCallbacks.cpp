#include "bluetooth/bluez/BusCallbacks.h"

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
SdBusSlotPtr adoptHandler(sd_bus_slot* slot, std::unique_ptr<MessageHandler> handler) {
    sd_bus_slot_set_destroy_callback(slot, destroyHandler);
    handler.release();
    return SdBusSlotPtr(slot);
}

}  // namespace

SdBusMessagePtr newCallWithoutAutoStart(sd_bus* bus, const char* destination, const char* path, const char* interface,
                                   const char* member) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, destination, path, interface, member) < 0) return nullptr;
    SdBusMessagePtr owned(call);
    if (sd_bus_message_set_auto_start(call, 0) < 0) return nullptr;
    return owned;
}

SdBusSlotPtr callAsync(sd_bus* bus, sd_bus_message* call, MessageHandler onReply) {
    auto handler = std::make_unique<MessageHandler>(std::move(onReply));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(bus, &slot, call, dispatch, handler.get(), 0) < 0) return nullptr;
    return adoptHandler(slot, std::move(handler));
}

void sendWithoutReply(sd_bus* bus, sd_bus_message* call) {
    if (sd_bus_message_set_expect_reply(call, 0) < 0) return;
    sd_bus_send(bus, call, nullptr);
}

SdBusSlotPtr addMatch(sd_bus* bus, const std::string& rule, MessageHandler onSignal) {
    auto handler = std::make_unique<MessageHandler>(std::move(onSignal));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(bus, &slot, rule.c_str(), dispatch, nullptr, handler.get()) < 0) return nullptr;
    return adoptHandler(slot, std::move(handler));
}

}  // namespace orbilatch::bluetooth::bluez
