#pragma once

#include <memory>
#include <string>
#include <variant>

#include "presenter/Keyboard.h"

struct _XDisplay;

namespace orbilatch::presenter {

// Key events made by the X server itself through its XTEST extension: they
// reach X11 windows (and XWayland's), not native Wayland ones.
class XtestKeyboard final : public Keyboard {
public:
    // The keyboard on $DISPLAY, or why there is none.
    static std::variant<std::unique_ptr<XtestKeyboard>, std::string> open();

    std::optional<KeyFailure> press(const KeyChord& chord) override;
    std::string description() const override;

    struct Close {
        void operator()(_XDisplay* display) const;
    };

private:
    XtestKeyboard(std::unique_ptr<_XDisplay, Close> display, std::string name)
        : display_(std::move(display)), name_(std::move(name)) {}

    std::unique_ptr<_XDisplay, Close> display_;
    std::string name_;
};

}  // namespace orbilatch::presenter
