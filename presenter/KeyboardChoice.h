#pragma once

#include <memory>
#include <string>
#include <variant>

#include "presenter/Keyboard.h"
#include "presenter/Options.h"

namespace orbilatch::presenter {

struct OpenedKeyboard {
    std::unique_ptr<Keyboard> keyboard;
    std::string uinputRefusal;  // why XTEST stands in for uinput, if it does
};

// The keyboard of the kind asked for, or what went wrong with each kind tried
// and how to fix it.
std::variant<OpenedKeyboard, std::string> openKeyboard(KeyboardKind kind);

}  // namespace orbilatch::presenter
