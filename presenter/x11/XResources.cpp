#include "presenter/x11/XResources.h"

#include <utility>

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

std::optional<Family> familyOf(::Display* display, Window window) {
    Family family;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &family.root, &family.parent, &children, &count)) return std::nullopt;
    const XOwned<Window> owned(children);
    family.children.assign(children, children + count);
    return family;
}

std::vector<Window> childrenOf(::Display* display, Window window) {
    auto family = familyOf(display, window);
    return family ? std::move(family->children) : std::vector<Window>{};
}

}  // namespace orbilatch::presenter::x11
