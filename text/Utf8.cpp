#include "text/Utf8.h"

#include <cstddef>
#include <cstdint>

namespace orbilatch::text {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

struct Sequence {
    std::size_t length;  // for an ill-formed one, the length of its maximal subpart
    bool valid;
};

bool inRange(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

// The sequence starting at a byte of 0x80 or more. The second byte's range is
// what excludes overlongs, surrogates and code points above U+10FFFF; every
// later byte is a plain continuation byte.
Sequence scanSequence(std::string_view bytes) {
    const auto lead = static_cast<std::uint8_t>(bytes[0]);
    std::size_t length = 0;
    std::uint8_t secondLow = 0x80;
    std::uint8_t secondHigh = 0xBF;
    if (inRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (inRange(lead, 0xE0, 0xEF)) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (inRange(lead, 0xF0, 0xF4)) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return {1, false};
    }

    for (std::size_t i = 1; i < length; ++i) {
        if (i == bytes.size()) return {i, false};
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        const bool fits = i == 1 ? inRange(byte, secondLow, secondHigh) : inRange(byte, 0x80, 0xBF);
        if (!fits) return {i, false};
    }
    return {length, true};
}

// Calls onIllFormed(position, length) for each ill-formed sequence, in order;
// stops early when it returns false.
template <typename OnIllFormed>
void forEachIllFormed(std::string_view bytes, OnIllFormed onIllFormed) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        if (static_cast<std::uint8_t>(bytes[position]) < 0x80) {
            ++position;
            continue;
        }
        const Sequence sequence = scanSequence(bytes.substr(position));
        if (!sequence.valid && !onIllFormed(position, sequence.length)) return;
        position += sequence.length;
    }
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
    bool wellFormed = true;
    forEachIllFormed(bytes, [&](std::size_t, std::size_t) { return wellFormed = false; });
    return wellFormed;
}

void appendRepairedUtf8(std::string& out, std::string_view bytes) {
    std::size_t validStart = 0;
    forEachIllFormed(bytes, [&](std::size_t position, std::size_t length) {
        out.append(bytes.substr(validStart, position - validStart));
        out.append(replacementCharacter);
        validStart = position + length;
        return true;
    });
    out.append(bytes.substr(validStart));
}

std::string repairUtf8(std::string_view bytes) {
    std::string repaired;
    repaired.reserve(bytes.size());
    appendRepairedUtf8(repaired, bytes);
    return repaired;
}

}  // namespace orbilatch::text
