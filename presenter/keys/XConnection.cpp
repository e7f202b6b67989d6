#include "presenter/keys/XConnection.h"

#include <X11/Xlib.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

namespace orbilatch::presenter::keys {
namespace {

// Xlib's own handlers would print their reports over the status line, and end the process.
int ignoreConnectionLoss(::Display*) { return 0; }
// A window may go between two requests; the request that meets it fails, and says so in its result.
int ignoreRequestError(::Display*, XErrorEvent*) { return 0; }

}  // namespace

XConnectionOpening XConnection::open() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::string("DISPLAY is not set");
    ::Display* display = XOpenDisplay(name);
    if (display == nullptr) return "cannot open the X display " + std::string(name);
    return std::unique_ptr<XConnection>(new XConnection(display, name));
}

XConnection::XConnection(::Display* display, std::string name) : display_(display), name_(std::move(name)) {
    XSetIOErrorHandler(ignoreConnectionLoss);
    XSetErrorHandler(ignoreRequestError);
    XSetIOErrorExitHandler(display_, &XConnection::onLoss, this);
}

XConnection::~XConnection() { XCloseDisplay(display_); }

void XConnection::onLoss(::Display*, void* self) { static_cast<XConnection*>(self)->lost_ = true; }

// Xlib may crash rather than report when it meets a connection that is gone,
// so a hang-up of the X server is looked for without it.
bool XConnection::lost() {
    char next;
    const ssize_t peeked = ::recv(ConnectionNumber(display_), &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EINTR)) lost_ = true;
    return lost_;
}

}  // namespace orbilatch::presenter::keys
