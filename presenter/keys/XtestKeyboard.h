#pragma once

#include <memory>
#include <string>

#include "presenter/keys/Keyboard.h"

struct _XDisplay;

namespace orbilatch::presenter::keys {

// Key events made by the X server itself through its XTEST extension: they
// reach X11 windows (and XWayland's), not native Wayland ones.
class XtestKeyboard final : public Keyboard {
public:
    // The keyboard on $DISPLAY, or why there is none.
    static KeyboardOpening open();

    std::optional<Failure> press(const KeyChord& chord) override;
    std::string description() const override;

    struct Close {
        void operator()(_XDisplay* display) const;
    };

private:
    XtestKeyboard(std::unique_ptr<_XDisplay, Close> display, std::string name);

    static void onConnectionLost(_XDisplay* display, void* self);
    bool connectionLost();

    // Before the display, so that it outlives the display's closing.
    bool connectionLost_ = false;
    std::unique_ptr<_XDisplay, Close> display_;
    std::string name_;
};

}  // namespace orbilatch::presenter::keys
