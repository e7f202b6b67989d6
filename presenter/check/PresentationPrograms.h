#pragma once

#include "presenter/check/Facts.h"

namespace orbilatch::presenter::check {

// Finds the presentation programs as the presenter does when it chooses one:
// pdfpc and Okular by their names on the session bus, Impress by its remote
// control's server, without connecting to any of them.
ProgramFacts askPrograms();

}  // namespace orbilatch::presenter::check
