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

// What the person asked for on the command line.
struct Asked {
    keys::KeyboardKind keyboard = keys::KeyboardKind::automatic;
    std::string keys;  // the keys each command presses, as the status line describes them
    std::string app;   // --app: empty, "keys" or the one program to drive
};

// The checks in order: bluetoothd and its version, the adapter, /dev/uinput,
// the udev rule, XTEST, then the presentation programs found and how they get
// the commands. It can present with bluetoothd 5.66 or newer, an adapter that
// can serve the watch and a keyboard of the kind asked for.
Verdict judge(const Facts& facts, const Asked& asked);

// "ok    text", "FAIL  text. Fix: fix"
std::string format(const Line& line);

}  // namespace orbilatch::presenter::check
