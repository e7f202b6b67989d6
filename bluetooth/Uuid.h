#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orbilatch::bluetooth {

// A 128-bit UUID. Equal when the values are equal; printed as the 36-character
// upper-case text form (8-4-4-4-12 hexadecimal digits).
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    explicit constexpr Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // Accepts the 36-character form in either case; nothing else.
    static std::optional<Uuid> parse(std::string_view text);

    const Bytes& bytes() const { return bytes_; }
    std::string toString() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

}  // namespace orbilatch::bluetooth
