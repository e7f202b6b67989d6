#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "presenter/KeyMap.h"

namespace orbilatch::presenter {

enum class KeyboardKind { Auto, Uinput, Xtest };

struct Options {
    std::string agent;  // empty: the agent installed next to this program
    KeyMap keys;
    KeyboardKind keyboard = KeyboardKind::Auto;
    bool json = false;
    bool help = false;
};

// The command line without the program name, or a sentence saying what is wrong.
std::variant<Options, std::string> parseOptions(const std::vector<std::string_view>& arguments);

// The manual page that --help prints.
std::string helpText();

}  // namespace orbilatch::presenter
