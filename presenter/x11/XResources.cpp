#include "presenter/x11/XResources.h"

namespace orbilatch::presenter::x11 {

std::vector<unsigned long> listProperty(::Display* display, Window window, Atom name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display, window, name, 0, 65536, False, type, &actualType, &format, &count, &remaining,
                           &data) != Success) {
        return items;
    }
    const XOwned<unsigned char> owned(data);
    if (actualType == type && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    return items;
}

std::vector<Window> childrenOf(::Display* display, Window window) {
    Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return found;
    const XOwned<Window> owned(children);
    found.assign(children, children + count);
    return found;
}

}  // namespace orbilatch::presenter::x11
