#pragma once

#include <string>
#include <vector>

#include "presenter/check/Facts.h"

namespace orbilatch::presenter::check {

// The presentation programs among these session bus names, each once:
// "pdfpc" for io.github.pdfpc, "Okular" for org.kde.okular-PID.
std::vector<std::string> presentationPrograms(const std::vector<std::string>& busNames);

// Asks the session bus which presentation programs run on it.
ProgramFacts askSessionBus();

}  // namespace orbilatch::presenter::check
