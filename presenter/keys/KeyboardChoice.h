#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "presenter/keys/Keyboard.h"

namespace orbilatch::presenter::keys {

enum class KeyboardKind { automatic, uinput, xtest };

// How each kind of keyboard is opened.
struct KeyboardOpeners {
    std::function<KeyboardOpening()> uinput;
    std::function<KeyboardOpening()> xtest;
};

// The kernel's uinput and the X server's XTEST.
KeyboardOpeners systemKeyboards();

struct OpenedKeyboard {
    std::unique_ptr<Keyboard> keyboard;
    std::string notice;  // why XTEST stands in for uinput and how to mend it; empty when it does not
    bool throughX = false;  // XTEST's keys reach X11 windows only, whatever the session
};

// The keyboard of the kind asked for; automatic is uinput, or XTEST where
// uinput cannot be used. Otherwise what went wrong with each kind tried and
// how to mend it.
std::variant<OpenedKeyboard, std::string> openKeyboard(KeyboardKind kind,
                                                       const KeyboardOpeners& openers = systemKeyboards());

}  // namespace orbilatch::presenter::keys
