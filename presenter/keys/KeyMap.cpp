#include "presenter/keys/KeyMap.h"

#include <algorithm>

namespace orbilatch::presenter::keys {
namespace {

using protocol::Command;

// "NEXT_SLIDE, PREVIOUS_SLIDE, ..."
std::string commandList() {
    std::string list;
    for (const Command command : protocol::commands) {
        list += (list.empty() ? "" : ", ") + std::string(protocol::commandName(command));
    }
    return list;
}

}  // namespace

// Where each key comes from: the programs' own documentation of their
// presentation or slide-show mode (docs/KEYS.md lists the sources and the
// reasons), corrected where the programs themselves, driven by the desktop
// tests, did otherwise.
const std::vector<Profile>& profiles() {
    static const std::vector<Profile> table = {
        // F5 starts the show in Impress and Evince, Escape ends it, B blacks the screen.
        {"default", "LibreOffice Impress, Evince, and most programs that show slides",
         {"PageDown", "PageUp", "F5", "Escape", "B"}},
        // F5 would reload the document.
        {"okular", "Okular", {"PageDown", "PageUp", "Ctrl+Shift+P", "Escape", "B"}},
        // pdfpc presents from the start and has no show to end: the first and the last page stand in.
        {"pdfpc", "pdfpc", {"PageDown", "PageUp", "Home", "End", "B"}},
        // F puts a reveal.js deck in full screen and Escape leaves it; F5 would reload the page.
        {"browser", "slide decks in a web browser, such as reveal.js", {"PageDown", "PageUp", "F", "Escape", "B"}},
    };
    return table;
}

std::variant<KeyMap, std::string> makeKeyMap(std::string_view profileName, const std::vector<std::string>& overrides) {
    const auto& table = profiles();
    const auto profile = std::ranges::find(table, profileName, &Profile::name);
    if (profile == table.end()) return "unknown profile " + std::string(profileName) + " (see --help)";

    protocol::PerCommand<std::string> keys;
    std::ranges::copy(profile->keys, keys.begin());
    for (const std::string& entry : overrides) {
        const auto equals = entry.find('=');
        const auto command = protocol::commandNamed(std::string_view(entry).substr(0, equals));
        if (equals == std::string::npos || !command) {
            return "--key " + entry + ": expected COMMAND=KEY with COMMAND one of " + commandList();
        }
        keys[protocol::indexOf(*command)] = entry.substr(equals + 1);
    }

    protocol::PerCommand<KeyChord> chords;
    for (const Command command : protocol::commands) {
        const std::string& key = keys[protocol::indexOf(command)];
        auto chord = parseKeyChord(key);
        if (!chord) {
            return "unknown key " + key + " for " + std::string(protocol::commandName(command)) + " (see --help)";
        }
        chords[protocol::indexOf(command)] = std::move(*chord);
    }
    return KeyMap(std::move(chords));
}

}  // namespace orbilatch::presenter::keys
