#pragma once

#include <string>

namespace orbilatch::presenter::keys {

// Where a key pressed now would land, as far as the desktop lets it be seen.
struct Focus {
    enum class Seen { unknown, noWindow, window };
    Seen seen = Seen::unknown;
    std::string windowClass;  // the class of the window's WM_CLASS; empty where it names none
};

// The keyboard focus, read anew before each key.
class WindowFocus {
public:
    virtual ~WindowFocus() = default;

    virtual Focus read() = 0;
    // Where the focus is read, such as "on the X display :0", or why it is unknown.
    virtual std::string description() const = 0;
};

}  // namespace orbilatch::presenter::keys
