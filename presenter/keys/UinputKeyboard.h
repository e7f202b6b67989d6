#pragma once

#include <memory>
#include <string>

#include "presenter/keys/Keyboard.h"

struct libevdev_uinput;

namespace orbilatch::presenter::keys {

// A keyboard of the kernel's uinput: the desktop sees it as one more USB
// keyboard, on X11, Wayland and the console alike. Made once, at start-up:
// the desktop takes a moment to pick a new input device up.
class UinputKeyboard final : public Keyboard {
public:
    // The keyboard, or why /dev/uinput could not be used.
    static KeyboardOpening open();

    std::optional<Failure> press(const KeyChord& chord) override;
    std::string description() const override;

    struct Destroy {
        void operator()(libevdev_uinput* device) const;
    };

private:
    explicit UinputKeyboard(std::unique_ptr<libevdev_uinput, Destroy> device) : device_(std::move(device)) {}

    std::unique_ptr<libevdev_uinput, Destroy> device_;
};

}  // namespace orbilatch::presenter::keys
