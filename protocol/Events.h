#pragma once

#include <string_view>

// What the agent tells its controller, one event per line on its standard output.
namespace orbilatch::protocol {

// The "type" of each event.
namespace event {
inline constexpr std::string_view bleStateChanged = "ble_state_changed";
inline constexpr std::string_view watchConnected = "watch_connected";
inline constexpr std::string_view watchDisconnected = "watch_disconnected";
inline constexpr std::string_view ackPendingOnDisconnect = "ack_pending_on_disconnect";
inline constexpr std::string_view commandReceived = "command_received";
inline constexpr std::string_view malformedCommand = "malformed_command";
inline constexpr std::string_view ackReceivedFromController = "ack_received_from_controller";
inline constexpr std::string_view ackNotified = "ack_notified";
inline constexpr std::string_view ackNotifyBackpressure = "ack_notify_backpressure";
inline constexpr std::string_view ackWaitingForSubscriber = "ack_waiting_for_subscriber";
}  // namespace event

// The "state" of ble_state_changed.
namespace state {
inline constexpr std::string_view advertising = "advertising";
inline constexpr std::string_view connected = "connected";
inline constexpr std::string_view disconnected = "disconnected";
inline constexpr std::string_view poweredOff = "powered_off";
inline constexpr std::string_view unauthorized = "unauthorized";
inline constexpr std::string_view unavailable = "unavailable";
inline constexpr std::string_view error = "error";
// The "message" of "disconnected" when the agent itself stops.
inline constexpr std::string_view shutdownMessage = "shutdown";
}  // namespace state

// The "reason" of the acknowledgement events: what made the agent try to deliver.
namespace reason {
inline constexpr std::string_view controllerAck = "controller_ack";
inline constexpr std::string_view subscribe = "subscribe";
inline constexpr std::string_view peripheralReady = "peripheral_ready";
}  // namespace reason

}  // namespace orbilatch::protocol
