#include "bluetooth/bluez/CentralIdentity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bluetooth/bluez/Sha1.h"

namespace orbilatch::bluetooth::bluez {
namespace {

std::string hexDigest(std::string_view text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    std::string hex;
    for (std::uint8_t byte : sha1(bytes)) {
        static constexpr char digits[] = "0123456789abcdef";
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0x0F]);
    }
    return hex;
}

TEST(Sha1, MatchesTheStandardTestVectors) {
    EXPECT_EQ(hexDigest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(hexDigest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hexDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hexDigest(std::string(1'000'000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, PadsMessagesEndingAtTheBlockBoundaries) {
    EXPECT_EQ(hexDigest(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(hexDigest(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
    EXPECT_EQ(hexDigest(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST(NameBasedUuid, MatchesTheVersion5UuidOfTheDnsNamespaceExample) {
    const auto dnsNamespace = Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    ASSERT_TRUE(dnsNamespace);
    EXPECT_EQ(nameBasedUuid(*dnsNamespace, "python.org").toString(), "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
}

TEST(CentralIdentifier, IsStableForTheSameAdapterAddressTypeAndAddress) {
    const Uuid identifier = centralIdentifier({"00:AA:01:00:00:00", "public", "AA:BB:CC:DD:EE:01"});
    EXPECT_EQ(identifier.toString(), "E462AFD1-C1BB-559B-8EF0-E12226A43D4A");
    EXPECT_EQ(centralIdentifier({"00:aa:01:00:00:00", "public", "aa:bb:cc:dd:ee:01"}), identifier);
}

TEST(CentralIdentifier, DiffersWhenAnyPartDiffers) {
    const Uuid identifier = centralIdentifier({"00:AA:01:00:00:00", "public", "AA:BB:CC:DD:EE:01"});
    EXPECT_NE(centralIdentifier({"00:AA:01:01:00:01", "public", "AA:BB:CC:DD:EE:01"}), identifier);
    EXPECT_NE(centralIdentifier({"00:AA:01:00:00:00", "random", "AA:BB:CC:DD:EE:01"}), identifier);
    EXPECT_NE(centralIdentifier({"00:AA:01:00:00:00", "public", "AA:BB:CC:DD:EE:02"}), identifier);
}

TEST(DeviceAddressFromPath, ReadsTheAddressBluezNamesTheObjectAfter) {
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"), "AA:BB:CC:DD:EE:01");
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA_BB_CC_DD_EE"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_AA-BB_CC_DD_EE_01"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0/dev_GG_BB_CC_DD_EE_01"), std::nullopt);
    EXPECT_EQ(deviceAddressFromPath("/org/bluez/hci0"), std::nullopt);
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
