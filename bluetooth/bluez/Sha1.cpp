#include "bluetooth/bluez/Sha1.h"

#include <bit>
#include <vector>

namespace orbilatch::bluetooth::bluez {
namespace {

constexpr std::size_t blockSize = 64;

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

std::vector<std::uint8_t> padded(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> message(data.begin(), data.end());
    message.push_back(0x80);
    while (message.size() % blockSize != blockSize - 8) message.push_back(0);
    const std::uint64_t bitLength = static_cast<std::uint64_t>(data.size()) * 8;
    for (int shift = 56; shift >= 0; shift -= 8) message.push_back(static_cast<std::uint8_t>(bitLength >> shift));
    return message;
}

void compressBlock(std::array<std::uint32_t, 5>& state, const std::uint8_t* block) {
    std::array<std::uint32_t, 80> words{};
    for (std::size_t t = 0; t < 16; ++t) words[t] = readBigEndian32(block + 4 * t);
    for (std::size_t t = 16; t < 80; ++t)
        words[t] = std::rotl(words[t - 3] ^ words[t - 8] ^ words[t - 14] ^ words[t - 16], 1);

    auto [a, b, c, d, e] = state;
    for (std::size_t t = 0; t < 80; ++t) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t next = std::rotl(a, 5) + f + e + k + words[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

Sha1Digest sha1(std::span<const std::uint8_t> data) {
    std::array<std::uint32_t, 5> state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const std::vector<std::uint8_t> message = padded(data);
    for (std::size_t offset = 0; offset < message.size(); offset += blockSize) compressBlock(state, &message[offset]);

    Sha1Digest digest{};
    for (std::size_t i = 0; i < state.size(); ++i)
        for (std::size_t j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * j));
    return digest;
}

}  // namespace orbilatch::bluetooth::bluez
