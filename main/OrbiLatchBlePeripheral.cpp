#include "main/OrbiLatchBlePeripheral.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <type_traits>
#include <utility>

#include "frame/AckFrame.h"
#include "frame/CommandFrame.h"
#include "main/ControllerMessage.h"
#include "main/ServiceIdentifiers.h"
#include "protocol/Events.h"
#include "protocol/Members.h"

namespace orbilatch::agent {
namespace {

using bluetooth::AttError;
using bluetooth::ManagerState;
using output::Event;
namespace event = protocol::event;
namespace member = protocol::member;
namespace state = protocol::state;
namespace reason = protocol::reason;

constexpr std::chrono::milliseconds ackFlushDelay{50};
constexpr std::chrono::milliseconds exitDelay{50};
constexpr double rateLimitWindowSeconds = 1.0;
constexpr std::size_t rateLimitWrites = 10;

std::string textOf(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

OrbiLatchBlePeripheral::OrbiLatchBlePeripheral(Environment environment,
                                               const bluetooth::PeripheralManagerFactory& makeManager)
    : environment(std::move(environment)), manager(makeManager(*this)) {}

void OrbiLatchBlePeripheral::emitStateChange(std::string_view state, std::optional<std::string_view> message) {
    Event event(event::bleStateChanged);
    event.with(member::state, std::string(state));
    if (message) event.with(member::message, std::string(*message));
    environment.output.emit(event);
}

// Controller input

void OrbiLatchBlePeripheral::handleInputLine(std::string_view line) {
    std::visit(
        [this](auto&& message) {
            using Kind = std::decay_t<decltype(message)>;
            if constexpr (std::is_same_v<Kind, MalformedMessage>) {
                environment.output.stderr("Ignoring malformed controller input");
            } else if constexpr (std::is_same_v<Kind, UnsupportedMessage>) {
                environment.output.stderr("Ignoring unsupported controller input");
            } else if constexpr (std::is_same_v<Kind, ShutdownMessage>) {
                shutdown();
            } else {
                auto frame = frame::encodeAckFrame(message.protocolVersion, message.commandId, message.status,
                                                   message.errorCode);
                if (!frame) {
                    environment.output.stderr("Ignoring oversized acknowledgement for " + message.commandId);
                    return;
                }
                pendingAckData = std::move(*frame);
                environment.output.emit(Event(event::ackReceivedFromController)
                                            .with(member::commandId, message.commandId)
                                            .with(member::status, message.status));
                environment.queue.postAfter(ackFlushDelay, [this] { flushPendingAck(reason::controllerAck); });
            }
        },
        parseControllerMessage(line));
}

void OrbiLatchBlePeripheral::shutdown() {
    if (shuttingDown) {
        environment.exitProcess();
        return;
    }
    shuttingDown = true;
    manager->stopAdvertising();
    manager->removeAllServices();
    emitStateChange(state::disconnected, state::shutdownMessage);
    environment.queue.postAfter(exitDelay, [this] { environment.exitProcess(); });
}

// Adapter state, service and advertising

void OrbiLatchBlePeripheral::peripheralManagerDidUpdateState(bluetooth::PeripheralManager& platformManager) {
    if (shuttingDown) return;
    switch (platformManager.state()) {
        case ManagerState::unknown:
            return emitStateChange(state::unavailable, "Bluetooth state unknown");
        case ManagerState::resetting:
            return emitStateChange(state::disconnected, "Bluetooth manager resetting");
        case ManagerState::unsupported:
            return emitStateChange(state::unavailable, "Bluetooth LE peripheral mode is unsupported");
        case ManagerState::unauthorized:
            return emitStateChange(state::unauthorized);
        case ManagerState::poweredOff:
            return emitStateChange(state::poweredOff);
        case ManagerState::poweredOn:
            return configureService();
    }
    emitStateChange(state::error, "Unknown Bluetooth state");
}

void OrbiLatchBlePeripheral::configureService() {
    if (shuttingDown) return;
    manager->removeAllServices();
    commandCharacteristic = bluetooth::MutableCharacteristic{
        .uuid = commandCharacteristicUUID,
        .properties = bluetooth::CharacteristicProperty::write,
    };
    acknowledgementCharacteristic = bluetooth::MutableCharacteristic{
        .uuid = acknowledgementCharacteristicUUID,
        .properties = bluetooth::CharacteristicProperty::notify,
    };
    manager->addService(bluetooth::MutableService{
        .uuid = serviceUUID,
        .primary = true,
        .characteristics = {*commandCharacteristic, *acknowledgementCharacteristic},
    });
}

void OrbiLatchBlePeripheral::didAddService(bluetooth::PeripheralManager&, const bluetooth::MutableService&,
                                           const std::optional<bluetooth::PlatformError>& error) {
    if (shuttingDown) return;
    if (error) {
        emitStateChange(state::error, error->description);
        environment.output.stderr("Service add failed: " + error->description);
        return;
    }
    startAdvertising();
}

void OrbiLatchBlePeripheral::startAdvertising() {
    if (shuttingDown) return;
    manager->stopAdvertising();
    manager->startAdvertising(bluetooth::AdvertisementData{
        .serviceUuids = {serviceUUID},
        .localName = advertisedLocalName,
    });
}

void OrbiLatchBlePeripheral::didStartAdvertising(bluetooth::PeripheralManager&,
                                                 const std::optional<bluetooth::PlatformError>& error) {
    if (error) {
        emitStateChange(state::error, error->description);
        environment.output.stderr("Advertising failed: " + error->description);
        return;
    }
    emitStateChange(state::advertising);
}

// The one watch

void OrbiLatchBlePeripheral::didSubscribeToCharacteristic(bluetooth::PeripheralManager&,
                                                          const bluetooth::Central& central,
                                                          const bluetooth::Uuid& characteristicUuid) {
    if (characteristicUuid != acknowledgementCharacteristicUUID) return;
    if (activeCentral && activeCentral->identifier != central.identifier) {
        environment.output.stderr("Rejecting additional central " + central.identifier.toString() +
                                  "; spike allows one watch");
        return;
    }
    activeCentral = central;
    manager->stopAdvertising();
    environment.output.emit(Event(event::watchConnected));
    emitStateChange(state::connected);
    flushPendingAck(reason::subscribe);
}

void OrbiLatchBlePeripheral::didUnsubscribeFromCharacteristic(bluetooth::PeripheralManager&,
                                                              const bluetooth::Central& central,
                                                              const bluetooth::Uuid& characteristicUuid) {
    if (characteristicUuid != acknowledgementCharacteristicUUID) return;
    if (!activeCentral || activeCentral->identifier != central.identifier) return;
    if (pendingAckData) environment.output.emit(Event(event::ackPendingOnDisconnect));
    activeCentral.reset();
    environment.output.emit(Event(event::watchDisconnected));
    emitStateChange(state::disconnected);
    if (!shuttingDown) startAdvertising();
}

// Commands from the watch

void OrbiLatchBlePeripheral::didReceiveWriteRequests(bluetooth::PeripheralManager&,
                                                     const std::vector<bluetooth::AttRequest>& requests) {
    for (const auto& request : requests) handleWriteRequest(request);
}

void OrbiLatchBlePeripheral::handleWriteRequest(const bluetooth::AttRequest& request) {
    if (request.characteristicUuid != commandCharacteristicUUID) {
        return manager->respondToRequest(request, AttError::requestNotSupported);
    }
    if (!activeCentral || activeCentral->identifier != request.central.identifier) {
        return manager->respondToRequest(request, AttError::unlikelyError);
    }
    if (!admitUnderRateLimit()) {
        manager->respondToRequest(request, AttError::insufficientResources);
        environment.output.emit(
            Event(event::malformedCommand).with(member::message, "BLE command rate limit exceeded"));
        return;
    }
    if (!request.value) return manager->respondToRequest(request, AttError::invalidAttributeValueLength);

    const auto decoded = frame::decodeCommandFrame(*request.value);
    if (const auto* command = std::get_if<frame::DecodedCommandFrame>(&decoded)) {
        environment.output.emit(Event(event::commandReceived)
                                    .with(member::protocolVersion, command->protocolVersion)
                                    .with(member::commandId, command->commandId)
                                    .with(member::command, std::string(protocol::commandName(command->command))));
        return manager->respondToRequest(request, AttError::success);
    }
    environment.output.emit(
        Event(event::malformedCommand).with(member::message, std::get<frame::FrameError>(decoded).description));
    manager->respondToRequest(request, AttError::invalidAttributeValueLength);
}

// The window is timed on a clock that never jumps: a wall clock set back after
// a burst would otherwise lock the watch out for as long as it went back.
bool OrbiLatchBlePeripheral::admitUnderRateLimit() {
    const double now = environment.monotonicSeconds();
    std::erase_if(recentCommandTimes, [now](double then) { return now - then >= rateLimitWindowSeconds; });
    if (recentCommandTimes.size() >= rateLimitWrites) return false;
    recentCommandTimes.push_back(now);
    return true;
}

// Acknowledgements to the watch

void OrbiLatchBlePeripheral::flushPendingAck(std::string_view reason) {
    if (!activeCentral || !acknowledgementCharacteristic) {
        if (pendingAckData) {
            environment.output.emit(Event(event::ackWaitingForSubscriber).with(member::reason, std::string(reason)));
        }
        return;
    }
    if (!pendingAckData) return;
    if (!manager->updateValue(*pendingAckData, *acknowledgementCharacteristic, std::span(&*activeCentral, 1))) {
        environment.output.emit(Event(event::ackNotifyBackpressure).with(member::reason, std::string(reason)));
        return;
    }
    environment.output.emit(Event(event::ackNotified)
                                .with(member::frame, textOf(*pendingAckData))
                                .with(member::reason, std::string(reason)));
    pendingAckData.reset();
}

void OrbiLatchBlePeripheral::isReadyToUpdateSubscribers(bluetooth::PeripheralManager&) {
    flushPendingAck(reason::peripheralReady);
}

}  // namespace orbilatch::agent
