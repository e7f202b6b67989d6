#pragma once

#include "presenter/check/Facts.h"

namespace orbilatch::presenter::check {

// Asks the system bus whether bluetoothd runs, and bluetoothd for its
// adapters, as any user may; never starts bluetoothd.
BluetoothdFacts askBluetoothd();

}  // namespace orbilatch::presenter::check
