#include "presenter/okular/XWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "presenter/x11/XResources.h"
#include "system/Check.h"

namespace orbilatch::presenter::okular {
namespace {

// A window may go between two requests about it; that is no fault of ours.
int ignoreError(::Display*, XErrorEvent*) { return 0; }
// Xlib's own handler would print its report over the status line.
int ignoreConnectionLoss(::Display*) { return 0; }

// The client windows of the top level: the root's children, and the
// children of those that are a window manager's frames.
std::vector<Window> topLevels(::Display* display, Atom pidAtom) {
    std::vector<Window> clients;
    for (const Window window : x11::childrenOf(display, DefaultRootWindow(display))) {
        if (!x11::listProperty(display, window, pidAtom, XA_CARDINAL).empty()) {
            clients.push_back(window);
            continue;
        }
        for (const Window inner : x11::childrenOf(display, window)) clients.push_back(inner);
    }
    return clients;
}

}  // namespace

void XWindows::Close::operator()(::Display* display) const { XCloseDisplay(display); }

std::unique_ptr<XWindows> XWindows::open(sd_event* loop) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    std::unique_ptr<::Display, Close> display(XOpenDisplay(name));
    if (!display) return nullptr;
    return std::unique_ptr<XWindows>(new XWindows(std::move(display), loop));
}

// Xlib ends the process when its connection breaks: it is told to carry on,
// and from then on nothing can be seen.
XWindows::XWindows(std::unique_ptr<::Display, Close> display, sd_event* loop) : display_(std::move(display)) {
    XSetErrorHandler(ignoreError);
    XSetIOErrorHandler(ignoreConnectionLoss);
    XSetIOErrorExitHandler(display_.get(), &XWindows::onConnectionLost, this);
    sd_event_source* source = nullptr;
    system::check(sd_event_add_io(loop, &source, ConnectionNumber(display_.get()), EPOLLIN, &XWindows::onReadable, this),
          "sd_event_add_io");
    source_.reset(source);
}

XWindows::~XWindows() = default;

void XWindows::onConnectionLost(::Display*, void* self) {
    auto* windows = static_cast<XWindows*>(self);
    windows->lost_ = true;
    sd_event_source_set_enabled(windows->source_.get(), SD_EVENT_OFF);
}

std::optional<bool> XWindows::presenting(pid_t pid) {
    if (lost_) return std::nullopt;
    ::Display* display = display_.get();
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Atom typeAtom = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom above = XInternAtom(display, "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", False);
    std::optional<bool> shown;
    for (const Window window : topLevels(display, pidAtom)) {
        const auto owner = x11::listProperty(display, window, pidAtom, XA_CARDINAL);
        if (owner.empty() || owner.front() != static_cast<unsigned long>(pid)) continue;
        shown = shown.value_or(false);
        XWindowAttributes attributes{};
        const auto types = x11::listProperty(display, window, typeAtom, XA_ATOM);
        if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
            std::find(types.begin(), types.end(), above) != types.end()) {
            shown = true;
        }
    }
    if (lost_) return std::nullopt;
    return shown;
}

void XWindows::watch(const void* owner, std::function<void()> changed) {
    owner_ = owner;
    changed_ = std::move(changed);
    XSelectInput(display_.get(), DefaultRootWindow(display_.get()), SubstructureNotifyMask);
    XSync(display_.get(), False);
    dispatch();
}

void XWindows::unwatch(const void* owner) {
    if (owner != owner_) return;
    owner_ = nullptr;
    changed_ = nullptr;
    if (lost_) return;
    XSelectInput(display_.get(), DefaultRootWindow(display_.get()), NoEventMask);
    XFlush(display_.get());
}

int XWindows::onReadable(sd_event_source*, int, uint32_t, void* self) {
    static_cast<XWindows*>(self)->dispatch();
    return 0;
}

// Looking at the windows may read further events into Xlib's queue, where
// the loop does not see them: they are taken until none is left.
void XWindows::dispatch() {
    while (!lost_ && XPending(display_.get()) > 0) {
        XEvent event;
        while (XPending(display_.get()) > 0) XNextEvent(display_.get(), &event);
        if (changed_) {
            const auto changed = changed_;
            changed();
        }
    }
}

}  // namespace orbilatch::presenter::okular
