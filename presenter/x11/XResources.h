#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <vector>

namespace orbilatch::presenter::x11 {

struct FreeX {
    void operator()(void* data) const { XFree(data); }
};
// What Xlib hands out for the caller to XFree.
template <typename T>
using XOwned = std::unique_ptr<T, FreeX>;

// The 32-bit items of a window's property of the given type, which Xlib
// hands out as longs; none when the window has no such property or is gone.
std::vector<unsigned long> listProperty(::Display* display, Window window, Atom name, Atom type);

// A window's place in the tree.
struct Family {
    Window root = None, parent = None;
    std::vector<Window> children;  // bottom to top
};

// Nothing when the window has gone.
std::optional<Family> familyOf(::Display* display, Window window);

// The window's children, bottom to top; none when it has gone.
std::vector<Window> childrenOf(::Display* display, Window window);

}  // namespace orbilatch::presenter::x11
