#include "presenter/keys/X11Focus.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "presenter/x11/XResources.h"

namespace orbilatch::presenter::keys {
namespace {

using x11::XOwned;

// Nothing to look at: keys go wherever the desktop sends them.
class UnknownFocus final : public WindowFocus {
public:
    explicit UnknownFocus(std::string why) : why_(std::move(why)) {}

    Focus read() override { return {}; }
    std::string description() const override { return "to the focused window, focus unknown (" + why_ + ")"; }

private:
    std::string why_;
};

std::string windowClass(::Display* display, Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) return {};
    const XOwned<char> instance(hint.res_name), programClass(hint.res_class);
    return programClass ? programClass.get() : "";
}

// The root window of the screen the pointer is on.
Window pointerScreenRoot(::Display* display) {
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        Window root = RootWindow(display, screen), child = None;
        int rootX, rootY, x, y;
        unsigned buttons;
        if (XQueryPointer(display, root, &root, &child, &rootX, &rootY, &x, &y, &buttons)) return root;
    }
    return DefaultRootWindow(display);
}

// The server sends a key to the deepest window under the pointer when that
// window lies inside the focus, and to the focus itself otherwise.
Window keyWindow(::Display* display, Window focus) {
    for (Window window = focus;;) {
        Window root = None, child = None;
        int rootX, rootY, x, y;
        unsigned buttons;
        if (!XQueryPointer(display, window, &root, &child, &rootX, &rootY, &x, &y, &buttons) || child == None) {
            return window;
        }
        window = child;
    }
}

// The top-level windows: the root's children, and where a window manager
// has put them into frames of its own, the windows it manages.
std::vector<Window> topLevels(::Display* display, Window root) {
    std::vector<Window> windows = x11::childrenOf(display, root);
    if (const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", True); clientList != None) {
        const auto managed = x11::listProperty(display, root, clientList, XA_WINDOW);
        windows.insert(windows.end(), managed.begin(), managed.end());
    }
    return windows;
}

// Impress's show window names no program, nor a leader or a process; its
// editor, a window of the same X client, does. The server tells each
// client's share of window numbers, so that no mask is assumed.
std::string classOfClient(::Display* display, Window window, Window root) {
    int count = 0;
    XResClient* clients = nullptr;
    if (!XResQueryClients(display, &count, &clients)) return {};
    const XOwned<XResClient> owned(clients);
    const std::span all(clients, static_cast<std::size_t>(count));
    const auto owner = std::ranges::find_if(
        all, [window](const XResClient& client) { return (window & ~client.resource_mask) == client.resource_base; });
    if (owner == all.end()) return {};

    // A mapped window of the program tells more than its hidden helpers.
    std::string unmappedClass;
    for (const Window other : topLevels(display, root)) {
        if (other == window || (other & ~owner->resource_mask) != owner->resource_base) continue;
        std::string otherClass = windowClass(display, other);
        if (otherClass.empty()) continue;
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, other, &attributes) && attributes.map_state == IsViewable) return otherClass;
        if (unmappedClass.empty()) unmappedClass = std::move(otherClass);
    }
    return unmappedClass;
}

Focus look(::Display* display) {
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus(display, &focus, &revertTo);
    if (focus == None) return {Focus::Seen::noWindow, {}};
    if (focus == PointerRoot) focus = pointerScreenRoot(display);

    for (Window window = keyWindow(display, focus);;) {
        if (std::string found = windowClass(display, window); !found.empty()) return {Focus::Seen::window, found};
        const auto family = x11::familyOf(display, window);
        if (!family) return {Focus::Seen::window, {}};  // closed while it was looked at
        if (window == family->root) return {Focus::Seen::noWindow, {}};
        if (family->parent == family->root) return {Focus::Seen::window, classOfClient(display, window, family->root)};
        window = family->parent;
    }
}

}  // namespace

Focus X11Focus::read() {
    if (x_->lost()) return {};
    const Focus seen = look(x_->display());
    return x_->lost() ? Focus{} : seen;
}

std::string X11Focus::description() const {
    return "only to windows of the profile's programs (the focus seen on the X display " + x_->name() + ")";
}

std::unique_ptr<WindowFocus> openWindowFocus(bool keysGoThroughX) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!keysGoThroughX && wayland != nullptr && *wayland != '\0') {
        return std::make_unique<UnknownFocus>("a Wayland session, whose compositor does not tell it");
    }
    auto opening = XConnection::open();
    if (auto* reason = std::get_if<std::string>(&opening)) return std::make_unique<UnknownFocus>(*reason);
    return std::make_unique<X11Focus>(std::get<std::unique_ptr<XConnection>>(std::move(opening)));
}

}  // namespace orbilatch::presenter::keys
