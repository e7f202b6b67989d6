#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orbilatch::bluetooth::bluez {

using Sha1Digest = std::array<std::uint8_t, 20>;

// SHA-1 as FIPS 180-4 defines it; used only to derive name-based UUIDs.
Sha1Digest sha1(std::span<const std::uint8_t> data);

}  // namespace orbilatch::bluetooth::bluez
