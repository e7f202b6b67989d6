#pragma once

#include <optional>
#include <string>

#include "presenter/Keys.h"

namespace orbilatch::presenter {

// Why a key did not go out: an error code in upper snake case for the watch
// and a sentence for the person at the desktop.
struct KeyFailure {
    std::string code;
    std::string reason;
};

// A virtual keyboard: presses a chord and releases it again.
class Keyboard {
public:
    virtual ~Keyboard() = default;

    // Nothing when the key went out.
    virtual std::optional<KeyFailure> press(const KeyChord& chord) = 0;
    // "uinput (/dev/input/event7)", for the person at the desktop.
    virtual std::string description() const = 0;
};

}  // namespace orbilatch::presenter
