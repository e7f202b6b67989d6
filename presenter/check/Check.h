#pragma once

#include "presenter/check/Verdict.h"

namespace orbilatch::presenter::check {

// Checks this machine's set-up for the presenter and prints one line per
// check on standard output. Returns the exit status: 0 when the presenter can
// present, 1 otherwise.
int checkSetUp(const Asked& asked);

}  // namespace orbilatch::presenter::check
