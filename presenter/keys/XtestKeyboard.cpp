#include "presenter/keys/XtestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <vector>

#include "presenter/Failures.h"

namespace orbilatch::presenter::keys {

KeyboardOpening XtestKeyboard::open() {
    auto opening = XConnection::open();
    if (auto* reason = std::get_if<std::string>(&opening)) return *reason;
    auto x = std::get<std::unique_ptr<XConnection>>(std::move(opening));
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(x->display(), &eventBase, &errorBase, &major, &minor)) {
        return "the X server on " + x->name() + " has no XTEST extension";
    }
    return std::unique_ptr<Keyboard>(new XtestKeyboard(std::move(x)));
}

std::optional<Failure> XtestKeyboard::press(const KeyChord& chord) {
    const Failure lost{"KEY_INJECTION_FAILED", "the X server on " + x_->name() + " is gone"};
    if (x_->lost()) return lost;
    ::Display* display = x_->display();
    std::vector<KeyCode> codes;
    for (const Key& modifier : chord.modifiers) codes.push_back(XKeysymToKeycode(display, modifier.keysym));
    codes.push_back(XKeysymToKeycode(display, chord.key.keysym));
    for (KeyCode code : codes) {
        if (code == 0) return Failure{code::keyNotOnKeyboard, "the X keyboard layout has no key for " + chord.name()};
    }

    bool sent = true;
    for (KeyCode code : codes) sent = XTestFakeKeyEvent(display, code, True, CurrentTime) && sent;
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
        sent = XTestFakeKeyEvent(display, *code, False, CurrentTime) && sent;
    }
    // Wait for the server to have taken the events, so "executed" means done.
    XSync(display, False);
    if (x_->lost()) return lost;
    if (sent) return std::nullopt;
    return Failure{code::keyInjectionFailed, "the X server refused the key events"};
}

std::string XtestKeyboard::description() const { return "XTEST on the X display " + x_->name(); }

}  // namespace orbilatch::presenter::keys
