#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "presenter/keys/KeyMap.h"
#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::options {

struct Options {
    std::string agent;  // empty: the agent installed next to this program
    std::string app;    // empty: the program is chosen for each command
    keys::KeyMap keys;
    keys::Profile profile;
    bool anyWindow = false;  // keys go to whichever window has the focus
    keys::KeyboardKind keyboard = keys::KeyboardKind::automatic;
    bool json = false;
    std::optional<bool> notify;  // nothing: only where there is no terminal
    bool check = false;
    bool help = false;
};

// The command line without the program name, or a sentence saying what is wrong.
std::variant<Options, std::string> parseOptions(const std::vector<std::string_view>& arguments);

// What --help prints: the options and the profiles; the manual page has the rest.
std::string helpText();

}  // namespace orbilatch::presenter::options
