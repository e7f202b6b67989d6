#pragma once

#include <string_view>

#include "bluetooth/Uuid.h"

namespace orbilatch::bluetooth::bluez {

// A name-based (version 5, SHA-1) UUID as RFC 4122 defines it.
Uuid nameBasedUuid(const Uuid& nameSpace, std::string_view name);

// What BlueZ tells us about a central, enough to tell it apart from every other.
struct CentralAddress {
    std::string_view adapterAddress;
    std::string_view addressType;
    std::string_view deviceAddress;
};

// The identifier of a central: the same for the same adapter, address type and
// address, so public and bonded centrals keep theirs across connections.
Uuid centralIdentifier(const CentralAddress& address);

}  // namespace orbilatch::bluetooth::bluez
