#include "frame/WellFormedUtf8.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orbilatch::frame {
namespace {

// One row per lead-byte range of a multi-byte sequence. The second byte has
// its own range because that is where overlong forms, surrogates and code
// points above U+10FFFF are excluded; later bytes are plain continuations.
struct SequenceForm {
    std::uint8_t leadFirst;
    std::uint8_t leadLast;
    std::size_t continuationCount;
    std::uint8_t secondFirst;
    std::uint8_t secondLast;
};

constexpr std::array<SequenceForm, 8> multiByteForms{{
    {0xC2, 0xDF, 1, 0x80, 0xBF},
    {0xE0, 0xE0, 2, 0xA0, 0xBF},
    {0xE1, 0xEC, 2, 0x80, 0xBF},
    {0xED, 0xED, 2, 0x80, 0x9F},
    {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF},
    {0xF1, 0xF3, 3, 0x80, 0xBF},
    {0xF4, 0xF4, 3, 0x80, 0x8F},
}};

const SequenceForm* formForLead(std::uint8_t lead) {
    for (const SequenceForm& form : multiByteForms) {
        if (lead >= form.leadFirst && lead <= form.leadLast) return &form;
    }
    return nullptr;
}

bool inRange(std::uint8_t byte, std::uint8_t first, std::uint8_t last) {
    return byte >= first && byte <= last;
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[position]);
        if (lead < 0x80) {
            ++position;
            continue;
        }
        const SequenceForm* form = formForLead(lead);
        if (form == nullptr) return false;
        if (bytes.size() - position - 1 < form->continuationCount) return false;
        for (std::size_t i = 1; i <= form->continuationCount; ++i) {
            const auto byte = static_cast<std::uint8_t>(bytes[position + i]);
            const bool allowed = i == 1 ? inRange(byte, form->secondFirst, form->secondLast)
                                        : inRange(byte, 0x80, 0xBF);
            if (!allowed) return false;
        }
        position += 1 + form->continuationCount;
    }
    return true;
}

}  // namespace orbilatch::frame
