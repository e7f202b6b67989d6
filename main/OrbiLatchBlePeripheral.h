#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "bluetooth/PeripheralManager.h"
#include "system/MainQueue.h"
#include "output/Output.h"

namespace orbilatch::agent {

// The agent's one stateful object: it owns the platform's peripheral manager,
// serves one watch at a time, carries commands from the watch to the
// controller and acknowledgements back, and stops the process in order.
class OrbiLatchBlePeripheral final : public bluetooth::PeripheralManagerDelegate {
public:
    struct Environment {
        system::MainQueue& queue;
        output::Output& output;
        // Seconds on a clock that never jumps; times the rate limit.
        std::function<double()> monotonicSeconds;
        // Ends the process with status 0.
        std::function<void()> exitProcess;
    };

    OrbiLatchBlePeripheral(Environment environment, const bluetooth::PeripheralManagerFactory& makeManager);

    void handleInputLine(std::string_view line);
    void shutdown();

    void peripheralManagerDidUpdateState(bluetooth::PeripheralManager& platformManager) override;
    void didAddService(bluetooth::PeripheralManager& platformManager, const bluetooth::MutableService& service,
                       const std::optional<bluetooth::PlatformError>& error) override;
    void didStartAdvertising(bluetooth::PeripheralManager& platformManager,
                             const std::optional<bluetooth::PlatformError>& error) override;
    void didSubscribeToCharacteristic(bluetooth::PeripheralManager& platformManager,
                                      const bluetooth::Central& central,
                                      const bluetooth::Uuid& characteristicUuid) override;
    void didUnsubscribeFromCharacteristic(bluetooth::PeripheralManager& platformManager,
                                          const bluetooth::Central& central,
                                          const bluetooth::Uuid& characteristicUuid) override;
    void didReceiveWriteRequests(bluetooth::PeripheralManager& platformManager,
                                 const std::vector<bluetooth::AttRequest>& requests) override;
    void isReadyToUpdateSubscribers(bluetooth::PeripheralManager& platformManager) override;

private:
    void configureService();
    void startAdvertising();
    void flushPendingAck(std::string_view reason);
    void handleWriteRequest(const bluetooth::AttRequest& request);
    bool admitUnderRateLimit();
    void emitStateChange(std::string_view state, std::optional<std::string_view> message = std::nullopt);

    Environment environment;
    std::unique_ptr<bluetooth::PeripheralManager> manager;
    std::optional<bluetooth::MutableCharacteristic> commandCharacteristic;
    std::optional<bluetooth::MutableCharacteristic> acknowledgementCharacteristic;
    std::optional<bluetooth::Central> activeCentral;
    std::optional<std::vector<std::uint8_t>> pendingAckData;
    std::deque<double> recentCommandTimes;
    bool shuttingDown = false;
};

}  // namespace orbilatch::agent
