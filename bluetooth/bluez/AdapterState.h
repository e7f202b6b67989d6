#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bluetooth/PeripheralManager.h"

namespace orbilatch::bluetooth::bluez {

// How far we got in talking to bluetoothd.
enum class BluezLink {
    pending,       // waiting for the bus or bluetoothd to answer
    unreachable,   // no system bus
    noOwner,       // nobody owns org.bluez
    ownerLost,     // bluetoothd left the bus
    accessDenied,  // the bus refused us bluetoothd's objects
    loaded,        // bluetoothd's objects are known
};

struct AdapterFacts {
    bool powered = false;
    bool peripheralRole = false;
    bool gattManager = false;
    bool advertisingManager = false;
};

// The manager state for what we know, or nothing when the last state should
// stand until more is known.
std::optional<ManagerState> deriveState(BluezLink link, const std::optional<AdapterFacts>& adapter);

// Lets a state through only when it differs from the last one let through;
// the first one always passes.
class StateChangeFilter {
public:
    std::optional<ManagerState> pass(std::optional<ManagerState> derived);
    ManagerState current() const { return current_; }
    // Lets the next state through even when it equals the current one.
    void letNextThrough() { passedAny_ = false; }

private:
    ManagerState current_ = ManagerState::unknown;
    bool passedAny_ = false;
};

// The adapter to use: the lowest path, so the choice does not depend on the
// order in which bluetoothd announces its adapters (highest first, at its
// start); but the current one while it exists and a central uses it.
std::optional<std::string> chooseAdapter(const std::vector<std::string>& adapterPaths,
                                         const std::optional<std::string>& current, bool currentInUse);

}  // namespace orbilatch::bluetooth::bluez
