#include "bluetooth/bluez/CentralIdentity.h"

#include <gtest/gtest.h>

namespace orbilatch::bluetooth::bluez {
namespace {

// The RFC's own example, which also checks the SHA-1 beneath it.
TEST(CentralIdentity, NameBasedUuidsFollowVersion5) {
    EXPECT_EQ(nameBasedUuid(*Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8"), "python.org").toString(),
              "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
}

TEST(CentralIdentity, IsTheSameForTheSameAdapterAddressTypeAndAddressAndDiffersOtherwise) {
    const Uuid identifier = centralIdentifier({"00:AA:01:00:00:00", "public", "AA:BB:CC:DD:EE:01"});
    EXPECT_EQ(centralIdentifier({"00:aa:01:00:00:00", "public", "aa:bb:cc:dd:ee:01"}), identifier);
    EXPECT_NE(centralIdentifier({"00:AA:01:01:00:01", "public", "AA:BB:CC:DD:EE:01"}), identifier);
    EXPECT_NE(centralIdentifier({"00:AA:01:00:00:00", "random", "AA:BB:CC:DD:EE:01"}), identifier);
    EXPECT_NE(centralIdentifier({"00:AA:01:00:00:00", "public", "AA:BB:CC:DD:EE:02"}), identifier);
}

TEST(CentralIdentity, ADevicePathNamesItsAddress) {
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"), "AA:BB:CC:DD:EE:01");
    for (const char* path : {"/org/bluez/hci0/dev_AA_BB_CC_DD_EE", "/org/bluez/hci0/dev_AA-BB_CC_DD_EE_01",
                             "/org/bluez/hci0/dev_GG_BB_CC_DD_EE_01", "/org/bluez/hci0"})
        EXPECT_EQ(deviceAddressFromPath(path), std::nullopt) << path;
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
