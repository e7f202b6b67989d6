#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbilatch::presenter::keys {

// One key of a standard keyboard, with the code that both ways of pressing it
// need: the kernel's key code for uinput and the X keysym for XTEST.
struct Key {
    std::string_view name;
    std::uint16_t evdevCode;
    std::uint32_t keysym;

    bool operator==(const Key&) const = default;
};

// A key pressed while holding zero or more modifiers, such as Ctrl+Shift+P.
struct KeyChord {
    std::vector<Key> modifiers;
    Key key;

    std::string name() const;
    bool operator==(const KeyChord&) const = default;
};

// Every key a chord may use, modifiers included: what the virtual keyboard
// must be able to press.
const std::vector<Key>& allKeys();

// "PageDown", "b", "ctrl+shift+p": names are matched without regard to case.
std::optional<KeyChord> parseKeyChord(std::string_view text);

}  // namespace orbilatch::presenter::keys
