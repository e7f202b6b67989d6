#include "bluetooth/bluez/GattAttributes.h"

#include <cctype>

#include "bluetooth/PeripheralManager.h"

namespace orbilatch::bluetooth::bluez {

std::vector<std::string> characteristicFlags(std::uint8_t properties) {
    std::vector<std::string> flags;
    if (properties & CharacteristicProperty::write) flags.emplace_back("write");
    if (properties & CharacteristicProperty::notify) flags.emplace_back("notify");
    return flags;
}

bool notifies(std::uint8_t properties) { return (properties & CharacteristicProperty::notify) != 0; }

std::string bluezUuidText(const Uuid& uuid) {
    std::string text = uuid.toString();
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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

}  // namespace orbilatch::bluetooth::bluez
