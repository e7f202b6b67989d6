#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "presenter/Route.h"
#include "presenter/keys/Keys.h"

namespace orbilatch::presenter::keys {

// A virtual keyboard: presses a chord and releases it again.
class Keyboard {
public:
    virtual ~Keyboard() = default;

    // Nothing when the key went out.
    virtual std::optional<Failure> press(const KeyChord& chord) = 0;
    // How the keys go out, such as "XTEST on the X display :0", for the person at the desktop.
    virtual std::string description() const = 0;
};

// A keyboard, or why it could not be had.
using KeyboardOpening = std::variant<std::unique_ptr<Keyboard>, std::string>;

}  // namespace orbilatch::presenter::keys
