#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "system/SdPointers.h"

namespace orbilatch::presenter::bus {

// Follows the owners of the names that `wanted` picks among those under a
// namespace of the session bus (such as "org.kde"): those owned when it is
// made, then each change as the bus daemon announces it, never by asking
// again. A name that passes to another owner goes and comes back.
class NameWatch {
public:
    using Wanted = std::function<bool(std::string_view name)>;
    using Changed = std::function<void(const std::string& name, bool owned)>;

    NameWatch(sd_bus* bus, const std::string& nameSpace, Wanted wanted, Changed changed);
    NameWatch(const NameWatch&) = delete;
    NameWatch& operator=(const NameWatch&) = delete;

private:
    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);
    void onNames(sd_bus_message* reply);
    void set(const std::string& name, bool owned);

    Wanted wanted_;
    Changed changed_;
    std::set<std::string> owned_;
    SdBusSlotPtr changes_;
};

}  // namespace orbilatch::presenter::bus
