#include "presenter/keys/XtestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace orbilatch::presenter::keys {
namespace {

// Xlib's own handler would print its report over the status line.
int ignoreConnectionLoss(::Display*) { return 0; }

}  // namespace

void XtestKeyboard::Close::operator()(::Display* display) const { XCloseDisplay(display); }

KeyboardOpening XtestKeyboard::open() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::string("DISPLAY is not set");
    std::unique_ptr<::Display, Close> display(XOpenDisplay(name));
    if (!display) return "cannot open the X display " + std::string(name);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        return "the X server on " + std::string(name) + " has no XTEST extension";
    }
    return std::unique_ptr<Keyboard>(new XtestKeyboard(std::move(display), name));
}

// Xlib ends the process when its connection breaks, and a command would never
// be answered: it is told to carry on, and the keyboard reports the loss.
XtestKeyboard::XtestKeyboard(std::unique_ptr<::Display, Close> display, std::string name)
    : display_(std::move(display)), name_(std::move(name)) {
    XSetIOErrorHandler(ignoreConnectionLoss);
    XSetIOErrorExitHandler(display_.get(), &XtestKeyboard::onConnectionLost, this);
}

void XtestKeyboard::onConnectionLost(::Display*, void* self) {
    static_cast<XtestKeyboard*>(self)->connectionLost_ = true;
}

// Xlib may crash rather than report when it meets a connection that is gone,
// so a hang-up of the X server is looked for without it.
bool XtestKeyboard::connectionLost() {
    char next;
    const ssize_t peeked = ::recv(ConnectionNumber(display_.get()), &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EINTR)) connectionLost_ = true;
    return connectionLost_;
}

std::optional<Failure> XtestKeyboard::press(const KeyChord& chord) {
    const Failure lost{"KEY_INJECTION_FAILED", "the X server on " + name_ + " is gone"};
    if (connectionLost()) return lost;
    std::vector<KeyCode> codes;
    for (const Key& modifier : chord.modifiers) codes.push_back(XKeysymToKeycode(display_.get(), modifier.keysym));
    codes.push_back(XKeysymToKeycode(display_.get(), chord.key.keysym));
    for (KeyCode code : codes) {
        if (code == 0) return Failure{"KEY_NOT_ON_KEYBOARD", "the X keyboard layout has no key for " + chord.name()};
    }

    bool sent = true;
    for (KeyCode code : codes) sent = XTestFakeKeyEvent(display_.get(), code, True, CurrentTime) && sent;
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
        sent = XTestFakeKeyEvent(display_.get(), *code, False, CurrentTime) && sent;
    }
    // Wait for the server to have taken the events, so "executed" means done.
    XSync(display_.get(), False);
    if (connectionLost_) return lost;
    if (sent) return std::nullopt;
    return Failure{"KEY_INJECTION_FAILED", "the X server refused the key events"};
}

std::string XtestKeyboard::description() const { return "XTEST on the X display " + name_; }

}  // namespace orbilatch::presenter::keys
