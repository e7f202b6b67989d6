#pragma once

#include <memory>

#include "presenter/keys/WindowFocus.h"
#include "presenter/keys/XConnection.h"

namespace orbilatch::presenter::keys {

// The X11 window that takes the keys: the focus, or the window under the
// pointer inside it, up to the first window that names its program in
// WM_CLASS. Needs no window manager.
class X11Focus final : public WindowFocus {
public:
    explicit X11Focus(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}

    Focus read() override;
    std::string description() const override;

private:
    std::unique_ptr<XConnection> x_;
};

// The focus as X11 shows it where the keys reach X11 windows: when they go
// through the X server, or on an X11 session; otherwise unknown, saying why.
std::unique_ptr<WindowFocus> openWindowFocus(bool keysGoThroughX);

}  // namespace orbilatch::presenter::keys
