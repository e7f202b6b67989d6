#include "presenter/XtestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <vector>

namespace orbilatch::presenter {

void XtestKeyboard::Close::operator()(Display* display) const { XCloseDisplay(display); }

std::variant<std::unique_ptr<XtestKeyboard>, std::string> XtestKeyboard::open() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::string("DISPLAY is not set");
    std::unique_ptr<Display, Close> display(XOpenDisplay(name));
    if (!display) return "cannot open the X display " + std::string(name);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        return "the X server on " + std::string(name) + " has no XTEST extension";
    }
    return std::unique_ptr<XtestKeyboard>(new XtestKeyboard(std::move(display), name));
}

std::optional<KeyFailure> XtestKeyboard::press(const KeyChord& chord) {
    std::vector<KeyCode> codes;
    for (const Key& modifier : chord.modifiers) codes.push_back(XKeysymToKeycode(display_.get(), modifier.keysym));
    codes.push_back(XKeysymToKeycode(display_.get(), chord.key.keysym));
    for (KeyCode code : codes) {
        if (code == 0) {
            return KeyFailure{"KEY_NOT_ON_KEYBOARD",
                              "the X keyboard layout has no key for " + chord.name()};
        }
    }

    bool sent = true;
    for (KeyCode code : codes) sent = XTestFakeKeyEvent(display_.get(), code, True, CurrentTime) && sent;
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
        sent = XTestFakeKeyEvent(display_.get(), *code, False, CurrentTime) && sent;
    }
    // Wait for the server to have taken the events, so "executed" means done.
    XSync(display_.get(), False);
    if (sent) return std::nullopt;
    return KeyFailure{"KEY_INJECTION_FAILED", "the X server refused the key events"};
}

std::string XtestKeyboard::description() const { return "XTEST on the X display " + name_; }

}  // namespace orbilatch::presenter
