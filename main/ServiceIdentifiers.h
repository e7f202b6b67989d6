#pragma once

#include "bluetooth/Uuid.h"

namespace orbilatch::agent {

// One base value counting upwards in the last digit.
inline const bluetooth::Uuid serviceUUID = *bluetooth::Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0001");
inline const bluetooth::Uuid commandCharacteristicUUID =
    *bluetooth::Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0002");
inline const bluetooth::Uuid acknowledgementCharacteristicUUID =
    *bluetooth::Uuid::parse("5E2A03F1-6C4D-4B8F-9F4E-2E7A7C9A0003");

inline constexpr const char* advertisedLocalName = "OrbiLatch";

}  // namespace orbilatch::agent
