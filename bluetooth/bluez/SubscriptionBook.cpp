#include "bluetooth/bluez/SubscriptionBook.h"

#include <algorithm>

namespace orbilatch::bluetooth::bluez {

void SubscriptionBook::subscribed(const std::string& device, const Uuid& characteristic) {
    if (Entry* entry = find(device, characteristic)) {
        entry->phase = Phase::subscribed;
        return;
    }
    devices_[device].push_back({characteristic, Phase::subscribed});
}

bool SubscriptionBook::hungUp(const std::string& device, const Uuid& characteristic) {
    Entry* entry = find(device, characteristic);
    if (!entry || entry->phase != Phase::subscribed) return false;
    entry->phase = Phase::hangingUp;
    return true;
}

// Still connected: it switched notifications off. A bonded central whose link
// dropped keeps its subscription for its return.
void SubscriptionBook::connectionAnswered(const std::string& device, const Uuid& characteristic, bool connected,
                                          bool bonded) {
    Entry* entry = find(device, characteristic);
    if (!entry || entry->phase != Phase::hangingUp) return;
    if (bonded && !connected) entry->phase = Phase::away;
    else erase(device, characteristic);
}

std::vector<Uuid> SubscriptionBook::disconnected(const std::string& device, bool bonded) {
    std::vector<Uuid> ended;
    const auto found = devices_.find(device);
    if (found == devices_.end()) return ended;
    for (Entry& entry : found->second) {
        if (entry.phase == Phase::subscribed) ended.push_back(entry.characteristic);
        entry.phase = Phase::away;
    }
    if (!bonded) devices_.erase(found);
    return ended;
}

std::vector<Uuid> SubscriptionBook::reconnected(const std::string& device) {
    std::vector<Uuid> resumed;
    const auto found = devices_.find(device);
    if (found == devices_.end()) return resumed;
    for (Entry& entry : found->second) {
        if (entry.phase != Phase::away) continue;
        entry.phase = Phase::subscribed;
        resumed.push_back(entry.characteristic);
    }
    return resumed;
}

std::vector<Uuid> SubscriptionBook::forget(const std::string& device) {
    std::vector<Uuid> ended;
    const auto found = devices_.find(device);
    if (found == devices_.end()) return ended;
    for (const Entry& entry : found->second)
        if (entry.phase == Phase::subscribed) ended.push_back(entry.characteristic);
    devices_.erase(found);
    return ended;
}

std::vector<std::pair<std::string, Uuid>> SubscriptionBook::forgetAll() {
    std::vector<std::pair<std::string, Uuid>> ended;
    for (const auto& [device, entries] : devices_)
        for (const Entry& entry : entries)
            if (entry.phase == Phase::subscribed) ended.emplace_back(device, entry.characteristic);
    devices_.clear();
    return ended;
}

bool SubscriptionBook::isSubscribed(const std::string& device, const Uuid& characteristic) const {
    const auto found = devices_.find(device);
    return found != devices_.end() && std::ranges::any_of(found->second, [&](const Entry& entry) {
               return entry.characteristic == characteristic && entry.phase == Phase::subscribed;
           });
}

SubscriptionBook::Entry* SubscriptionBook::find(const std::string& device, const Uuid& characteristic) {
    const auto found = devices_.find(device);
    if (found == devices_.end()) return nullptr;
    const auto entry = std::ranges::find_if(found->second,
                                            [&](const Entry& e) { return e.characteristic == characteristic; });
    return entry == found->second.end() ? nullptr : &*entry;
}

void SubscriptionBook::erase(const std::string& device, const Uuid& characteristic) {
    const auto found = devices_.find(device);
    if (found == devices_.end()) return;
    std::erase_if(found->second, [&](const Entry& entry) { return entry.characteristic == characteristic; });
    if (found->second.empty()) devices_.erase(found);
}

}  // namespace orbilatch::bluetooth::bluez
