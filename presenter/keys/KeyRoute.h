#pragma once

#include <string>

#include "presenter/Route.h"
#include "presenter/keys/KeyMap.h"
#include "presenter/keys/Keyboard.h"

namespace orbilatch::presenter::keys {

// Each command is its key chord, pressed for whichever window has the focus.
class KeyRoute final : public Route {
public:
    KeyRoute(Keyboard& keyboard, KeyMap keys) : keyboard_(keyboard), keys_(std::move(keys)) {}

    void carryOut(protocol::Command command, Done done) override;
    // "keys go out through ...: NEXT_SLIDE PageDown, ..."
    std::string description() const override;

private:
    Keyboard& keyboard_;
    KeyMap keys_;
};

}  // namespace orbilatch::presenter::keys
