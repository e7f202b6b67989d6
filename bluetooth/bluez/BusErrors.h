#pragma once

#include <string_view>

namespace orbilatch::bluetooth::bluez {

// True for the errors with which the bus answers a call whose recipient has
// gone or never was there: no outcome of bluetoothd's, the owner change follows.
bool meansBluetoothdIsGone(std::string_view errorName);

bool isAccessDenied(std::string_view errorName);

}  // namespace orbilatch::bluetooth::bluez
