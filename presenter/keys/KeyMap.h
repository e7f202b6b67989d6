#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "presenter/keys/Keys.h"
#include "protocol/Command.h"

namespace orbilatch::presenter::keys {

// A named set of keys for the five commands, for one kind of program.
struct Profile {
    std::string_view name;
    std::string_view suits;
    protocol::PerCommand<std::string_view> keys;
    // The class in the WM_CLASS of the programs' X11 windows, in any case.
    std::vector<std::string_view> windowClasses;
};

// Whether a window of this class belongs to one of the profile's programs.
bool isFor(const Profile& profile, std::string_view windowClass);

// The profile of this name, if there is one.
const Profile* profileNamed(std::string_view name);

// Every profile, the first one being the default: the one table of keys.
const std::vector<Profile>& profiles();

// The key chord for each command.
class KeyMap {
public:
    explicit KeyMap(protocol::PerCommand<KeyChord> chords) : chords_(std::move(chords)) {}

    const KeyChord& chordFor(protocol::Command command) const { return chords_[protocol::indexOf(command)]; }
    // "NEXT_SLIDE PageDown, PREVIOUS_SLIDE PageUp, ..."
    std::string describe() const;

private:
    protocol::PerCommand<KeyChord> chords_;
};

// The profile's keys with each override ("NEXT_SLIDE=Right") applied in turn,
// or a sentence saying what is wrong.
std::variant<KeyMap, std::string> makeKeyMap(std::string_view profile, const std::vector<std::string>& overrides);

}  // namespace orbilatch::presenter::keys
