#pragma once

#include <string>
#include <vector>

#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::check {

// Checks this machine's set-up for the presenter and prints one line per
// check on standard output; programs are the "program: how" lines of the ways
// commands reach presentation programs. Returns the exit status: 0 when the
// presenter can present, 1 otherwise.
int checkSetUp(keys::KeyboardKind keyboard, const std::vector<std::string>& programs);

}  // namespace orbilatch::presenter::check
