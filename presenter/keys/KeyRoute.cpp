#include "presenter/keys/KeyRoute.h"

#include "presenter/Failures.h"

namespace orbilatch::presenter::keys {

void KeyRoute::carryOut(protocol::Command command, Done done) {
    const KeyChord& chord = keys_.chordFor(command);
    const std::optional<Focus> focus = focus_ ? std::optional(focus_->read()) : std::nullopt;
    if (auto refused = refusal(focus)) return done({chord.name(), std::move(refused)});
    const bool unseen = focus && focus->seen == Focus::Seen::unknown;
    done({unseen ? chord.name() + " (focus unknown)" : chord.name(), keyboard_.press(chord)});
}

// A key that would land in another program is not pressed: a terminal or an
// editor would take it, and the slide would stay.
std::optional<Failure> KeyRoute::refusal(const std::optional<Focus>& focus) const {
    if (!focus || focus->seen == Focus::Seen::unknown) return std::nullopt;
    if (focus->seen == Focus::Seen::noWindow) return Failure{code::focusElsewhere, "no window has the focus"};
    if (isFor(profile_, focus->windowClass)) return std::nullopt;
    const std::string window = focus->windowClass.empty() ? "a window that names no program" : focus->windowClass;
    return Failure{code::focusElsewhere,
                   "the focus is on " + window + ", not a program of the " + std::string(profile_.name) + " profile"};
}

std::string KeyRoute::description() const {
    return "keys go out through " + keyboard_.description() + " " +
           (focus_ ? focus_->description() : "to the focused window, whichever it is") + ": " + keys_.describe();
}

}  // namespace orbilatch::presenter::keys
