#pragma once

#include <string>
#include <vector>

#include "presenter/check/Facts.h"
#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::check {

// One check as the person reads it, with the fix where it failed.
struct Line {
    // warn: failed, yet the presenter can do without it, such as the second
    // way of pressing keys while the first one works.
    enum class Mark { ok, warn, fail };

    Mark mark;
    std::string text;
    std::string fix;  // one line; empty where nothing needs mending
};

struct Verdict {
    std::vector<Line> lines;
    bool canPresent = false;
};

// The checks in order: bluetoothd and its version, the adapter, /dev/uinput,
// the udev rule, XTEST, then the presentation programs found and how they get
// the commands: keys, described by keys. It can present with bluetoothd 5.66 or newer, an
// adapter that can serve the watch and a keyboard of the kind asked for.
Verdict judge(const Facts& facts, keys::KeyboardKind keyboard, const std::string& keys);

// "ok    text", "FAIL  text. Fix: fix"
std::string format(const Line& line);

}  // namespace orbilatch::presenter::check
