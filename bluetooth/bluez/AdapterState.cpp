#include "bluetooth/bluez/AdapterState.h"

#include <algorithm>

namespace orbilatch::bluetooth::bluez {
namespace {

// Puts hci2 before hci10.
bool pathPrecedes(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return left.size() < right.size();
    return left < right;
}

}  // namespace

std::optional<ManagerState> deriveState(BluezLink link, const std::optional<AdapterFacts>& adapter) {
    switch (link) {
        case BluezLink::pending:
            return std::nullopt;
        case BluezLink::unreachable:
            return ManagerState::unsupported;
        case BluezLink::noOwner:
            return ManagerState::unknown;
        case BluezLink::ownerLost:
            return ManagerState::resetting;
        case BluezLink::accessDenied:
            return ManagerState::unauthorized;
        case BluezLink::loaded:
            break;
    }
    if (!adapter || !adapter->peripheralRole || !adapter->gattManager) return ManagerState::unsupported;
    if (!adapter->powered) return ManagerState::poweredOff;
    // bluetoothd adds LEAdvertisingManager1 a moment after the adapter: wait
    // for it rather than report a passing "unsupported".
    if (!adapter->advertisingManager) return std::nullopt;
    return ManagerState::poweredOn;
}

std::optional<ManagerState> StateChangeFilter::pass(std::optional<ManagerState> derived) {
    if (!derived || (passedAny_ && *derived == current_)) return std::nullopt;
    passedAny_ = true;
    current_ = *derived;
    return derived;
}

std::optional<std::string> chooseAdapter(const std::vector<std::string>& adapterPaths,
                                         const std::optional<std::string>& current, bool currentInUse) {
    if (currentInUse && current && std::ranges::find(adapterPaths, *current) != adapterPaths.end()) return current;
    const auto lowest = std::ranges::min_element(adapterPaths, pathPrecedes);
    if (lowest == adapterPaths.end()) return std::nullopt;
    return *lowest;
}

}  // namespace orbilatch::bluetooth::bluez
