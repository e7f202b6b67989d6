#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "system/SdPointers.h"

namespace orbilatch::presenter::bus {

// The names of one kind of program on the session bus: those under a
// namespace (such as "org.kde") that `wanted` picks.
struct Names {
    std::string nameSpace;
    std::function<bool(std::string_view name)> wanted;
};

// Follows the owners of the names that `wanted` picks among those under a
// namespace of the session bus (such as "org.kde"): those owned when it is
// made, then each change as the bus daemon announces it, never by asking
// again. A name that passes to another owner goes and comes back.
class NameWatch {
public:
    using Changed = std::function<void(const std::string& name, bool owned)>;

    NameWatch(sd_bus* bus, Names names, Changed changed);
    NameWatch(const NameWatch&) = delete;
    NameWatch& operator=(const NameWatch&) = delete;

private:
    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);
    void onNames(sd_bus_message* reply);
    void set(const std::string& name, bool owned);

    std::function<bool(std::string_view name)> wanted_;
    Changed changed_;
    std::set<std::string> owned_;
    system::SdBusSlotPtr changes_;
    system::SdBusSlotPtr names_;  // until the bus daemon has named the owned names
};

}  // namespace orbilatch::presenter::bus
