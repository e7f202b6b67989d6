#pragma once

#include <memory>
#include <string>
#include <variant>

struct _XDisplay;

namespace orbilatch::presenter::keys {

class XConnection;
// A connection, or why it could not be had.
using XConnectionOpening = std::variant<std::unique_ptr<XConnection>, std::string>;

// A connection to the X server on $DISPLAY that outlives the server: Xlib
// would end the process when the connection breaks or a request fails, and a
// command would never be answered. Its users tell failures by results.
class XConnection {
public:
    static XConnectionOpening open();

    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    ~XConnection();

    _XDisplay* display() const { return display_; }
    // ":0", as $DISPLAY named it.
    const std::string& name() const { return name_; }
    // Whether the server hung up; once it did, nothing may be asked of Xlib.
    bool lost();

private:
    XConnection(_XDisplay* display, std::string name);

    static void onLoss(_XDisplay* display, void* self);

    _XDisplay* display_;
    std::string name_;
    bool lost_ = false;
};

}  // namespace orbilatch::presenter::keys
