#pragma once

#include <memory>
#include <optional>
#include <string>

#include "presenter/Route.h"
#include "presenter/keys/KeyMap.h"
#include "presenter/keys/Keyboard.h"
#include "presenter/keys/WindowFocus.h"

namespace orbilatch::presenter::keys {

// Each command is its key chord, pressed for the focused window when that
// window belongs to one of the profile's programs, or when the focus cannot be
// seen, which its action then says. Without a focus to look at (--any-window),
// for whichever window has it.
class KeyRoute final : public Route {
public:
    KeyRoute(Keyboard& keyboard, KeyMap keys, Profile profile, std::unique_ptr<WindowFocus> focus)
        : keyboard_(keyboard), keys_(std::move(keys)), profile_(std::move(profile)), focus_(std::move(focus)) {}

    void carryOut(protocol::Command command, Done done) override;
    // "keys go out through ... only to the profile's programs, ...: NEXT_SLIDE PageDown, ..."
    std::string description() const override;

private:
    std::optional<Failure> refusal(const std::optional<Focus>& focus) const;

    Keyboard& keyboard_;
    KeyMap keys_;
    Profile profile_;
    std::unique_ptr<WindowFocus> focus_;
};

}  // namespace orbilatch::presenter::keys
