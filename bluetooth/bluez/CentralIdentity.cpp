#include "bluetooth/bluez/CentralIdentity.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include <nettle/sha1.h>

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr Uuid centralNameSpace(Uuid::Bytes{0x0D, 0xB5, 0xA2, 0x2C, 0x52, 0xBC, 0x45, 0x2E, 0xB0, 0x35, 0x7F, 0xE9,
                                            0x77, 0x52, 0x16, 0x59});

std::string upperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

// A name-based (version 5, SHA-1) UUID as RFC 4122 defines it.
Uuid nameBasedUuid(const Uuid& nameSpace, std::string_view name) {
    sha1_ctx hash;
    sha1_init(&hash);
    sha1_update(&hash, nameSpace.bytes().size(), nameSpace.bytes().data());
    sha1_update(&hash, name.size(), reinterpret_cast<const std::uint8_t*>(name.data()));
    std::array<std::uint8_t, SHA1_DIGEST_SIZE> digest;
    sha1_digest(&hash, digest.size(), digest.data());

    Uuid::Bytes bytes{};
    std::copy_n(digest.begin(), bytes.size(), bytes.begin());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x50);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    return Uuid(bytes);
}

}  // namespace

Uuid centralIdentifier(const CentralAddress& address) {
    const std::string name = upperCase(address.adapterAddress) + '/' + std::string(address.addressType) + '/' +
                             upperCase(address.deviceAddress);
    return nameBasedUuid(centralNameSpace, name);
}

std::optional<std::string> deviceAddressFromPath(std::string_view devicePath) {
    constexpr std::string_view prefix = "dev_";
    constexpr std::size_t addressLength = 17;
    const std::size_t slash = devicePath.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? devicePath : devicePath.substr(slash + 1);
    if (!name.starts_with(prefix) || name.size() != prefix.size() + addressLength) return std::nullopt;

    std::string address(name.substr(prefix.size()));
    for (std::size_t i = 0; i < address.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator && address[i] != '_') return std::nullopt;
        if (!separator && !std::isxdigit(static_cast<unsigned char>(address[i]))) return std::nullopt;
        if (separator) address[i] = ':';
    }
    return address;
}

Uuid CentralIdentities::identifierOf(const std::string& devicePath, const BluezObjects& objects) {
    if (const auto found = identifiers_.find(devicePath); found != identifiers_.end()) return found->second;
    const std::optional<DeviceFacts> facts = objects.device(devicePath);
    const std::string address = facts && !facts->address.empty()
                                    ? facts->address
                                    : deviceAddressFromPath(devicePath).value_or(devicePath);
    const std::string adapterPath =
        facts && !facts->adapterPath.empty() ? facts->adapterPath : devicePath.substr(0, devicePath.rfind('/'));
    const Uuid identifier =
        centralIdentifier({objects.adapterAddress(adapterPath), facts ? facts->addressType : "", address});
    identifiers_.emplace(devicePath, identifier);
    return identifier;
}

}  // namespace orbilatch::bluetooth::bluez
