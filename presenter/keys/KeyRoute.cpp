#include "presenter/keys/KeyRoute.h"

namespace orbilatch::presenter::keys {

void KeyRoute::carryOut(protocol::Command command, Done done) {
    const KeyChord& chord = keys_.chordFor(command);
    done({chord.name(), keyboard_.press(chord)});
}

std::string KeyRoute::description() const {
    std::string text = "keys go out through " + keyboard_.description() + ": ";
    for (const protocol::Command command : protocol::commands) {
        if (command != protocol::commands.front()) text += ", ";
        text += std::string(protocol::commandName(command)) + " " + keys_.chordFor(command).name();
    }
    return text;
}

}  // namespace orbilatch::presenter::keys
