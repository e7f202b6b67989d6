#include "presenter/keys/KeyRoute.h"

namespace orbilatch::presenter::keys {

Carried KeyRoute::carryOut(protocol::Command command) {
    const KeyChord& chord = keys_.chordFor(command);
    return {chord.name(), keyboard_.press(chord)};
}

std::string KeyRoute::description() const {
    return "keys go out through " + keyboard_.description() + ": " + keys_.describe();
}

}  // namespace orbilatch::presenter::keys
