#pragma once

#include <systemd/sd-event.h>

#include "bluetooth/PeripheralManager.h"

namespace orbilatch::bluetooth::bluez {

// Managers that talk to bluetoothd over the system bus (DBUS_SYSTEM_BUS_ADDRESS
// when set), attached to the given loop: every delegate callback runs there.
PeripheralManagerFactory makeBluezPeripheralManagerFactory(sd_event* loop);

}  // namespace orbilatch::bluetooth::bluez
