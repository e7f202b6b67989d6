#include "bluetooth/bluez/BluezPeripheralManager.h"

#include "bluetooth/bluez/BluezPeripheral.h"

namespace orbilatch::bluetooth::bluez {

PeripheralManagerFactory makeBluezPeripheralManagerFactory(sd_event* loop) {
    return [loop](PeripheralManagerDelegate& delegate) -> std::unique_ptr<PeripheralManager> {
        return std::make_unique<BluezPeripheral>(loop, delegate);
    };
}

}  // namespace orbilatch::bluetooth::bluez
