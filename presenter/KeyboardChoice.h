#pragma once

#include <memory>
#include <string>
#include <variant>

#include "presenter/Keyboard.h"
#include "presenter/Options.h"

namespace orbilatch::presenter {

// The keyboard of the kind asked for, or what went wrong with each kind tried
// and how to fix it.
std::variant<std::unique_ptr<Keyboard>, std::string> openKeyboard(KeyboardKind kind);

}  // namespace orbilatch::presenter
