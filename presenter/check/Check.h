#pragma once

#include <string>

#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::check {

// Checks this machine's set-up for the presenter and prints one line per
// check on standard output; keys describes the keys each command presses.
// Returns the exit status: 0 when the presenter can present, 1 otherwise.
int checkSetUp(keys::KeyboardKind keyboard, const std::string& keys);

}  // namespace orbilatch::presenter::check
