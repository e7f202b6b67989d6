#pragma once

#include <array>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "presenter/Keys.h"

namespace orbilatch::presenter {

// The commands the watch sends, by the names the agent reports them with.
inline constexpr std::array<std::string_view, 5> commandNames = {
    "NEXT_SLIDE", "PREVIOUS_SLIDE", "START_PRESENTATION", "END_PRESENTATION", "TOGGLE_BLACK_SCREEN"};

// A named set of keys for the five commands, in the order of commandNames,
// with where each key comes from.
struct Profile {
    std::string_view name;
    std::string_view suits;
    std::array<std::string_view, 5> keys;
    std::string_view notes;
};

// Every profile, the first one being the default: the one table of keys.
const std::vector<Profile>& profiles();

// The key chord for each command, in the order of commandNames.
class KeyMap {
public:
    explicit KeyMap(std::array<KeyChord, 5> chords) : chords_(std::move(chords)) {}

    // Null for a command name this program does not know.
    const KeyChord* find(std::string_view command) const;
    const std::array<KeyChord, 5>& chords() const { return chords_; }

private:
    std::array<KeyChord, 5> chords_;
};

// The profile's keys with each override ("NEXT_SLIDE=Right") applied in turn,
// or a sentence saying what is wrong.
std::variant<KeyMap, std::string> makeKeyMap(std::string_view profile, const std::vector<std::string>& overrides);

}  // namespace orbilatch::presenter
