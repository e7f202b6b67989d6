#include "bluetooth/bluez/CentralIdentity.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

// Identifiers of known devices, computed independently as version-5 UUIDs in
// our namespace: a watch must keep its identifier across versions of the agent.
TEST(CentralIdentity, IsPinnedForKnownDevicesWhateverTheCaseOfTheirAddresses) {
    const std::tuple<CentralAddress, const char*> known[] = {
        {{"00:AA:01:00:00:00", "public", "00:AA:01:01:00:01"}, "CA04E71C-C796-59D2-9AC2-8981C34CE130"},
        {{"00:aa:01:00:00:00", "public", "00:aa:01:01:00:01"}, "CA04E71C-C796-59D2-9AC2-8981C34CE130"},
        {{"00:AA:01:00:00:00", "random", "5A:3C:11:22:33:44"}, "BFB1A696-916A-540A-83DB-7CE1B079841E"},
        {{"00:AA:01:01:00:01", "public", "00:AA:01:00:00:00"}, "659A80DC-9498-5BBF-A209-6B6BDDE0602A"},
        {{"00:AA:01:00:00:00", "", "AA:BB:CC:DD:EE:01"}, "0D5925B6-DFD1-5249-B877-87DA53199A12"},
    };
    for (const auto& [address, identifier] : known)
        EXPECT_EQ(centralIdentifier(address).toString(), identifier) << address.deviceAddress;
}

TEST(CentralIdentity, ADevicePathNamesItsAddress) {
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"), "AA:BB:CC:DD:EE:01");
    for (const char* path : {"/org/bluez/hci0/dev_AA_BB_CC_DD_EE", "/org/bluez/hci0/dev_AA-BB_CC_DD_EE_01",
                             "/org/bluez/hci0/dev_GG_BB_CC_DD_EE_01", "/org/bluez/hci0"})
        EXPECT_EQ(deviceAddressFromPath(path), std::nullopt) << path;
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
