#pragma once

#include <memory>
#include <string>

#include "presenter/keys/Keyboard.h"
#include "presenter/keys/XConnection.h"

namespace orbilatch::presenter::keys {

// Key events made by the X server itself through its XTEST extension: they
// reach X11 windows (and XWayland's), not native Wayland ones.
class XtestKeyboard final : public Keyboard {
public:
    // The keyboard on $DISPLAY, or why there is none.
    static KeyboardOpening open();

    std::optional<Failure> press(const KeyChord& chord) override;
    std::string description() const override;

private:
    explicit XtestKeyboard(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}

    std::unique_ptr<XConnection> x_;
};

}  // namespace orbilatch::presenter::keys
