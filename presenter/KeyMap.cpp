#include "presenter/KeyMap.h"

#include <algorithm>

namespace orbilatch::presenter {

// Where each key comes from: the programs' own documentation of their
// presentation or slide-show mode (docs/KEYS.md lists the sources), corrected
// where the programs themselves, driven by the desktop tests, did otherwise.
const std::vector<Profile>& profiles() {
    static const std::vector<Profile> table = {
        {"default", "LibreOffice Impress, Evince, and most programs that show slides",
         {"PageDown", "PageUp", "F5", "Escape", "B"},
         "Impress and Evince: F5 starts the show, Escape ends it, B blacks the screen. "
         "pdfpc: F5 does nothing and Escape only leaves a black or frozen screen."},
        {"okular", "Okular", {"PageDown", "PageUp", "Ctrl+Shift+P", "Escape", "B"},
         "Ctrl+Shift+P starts Okular's presentation mode; F5 would reload the document."},
        {"pdfpc", "pdfpc", {"PageDown", "PageUp", "Home", "End", "B"},
         "pdfpc presents from the moment it starts: Home goes to the first page, End to the last."},
        {"browser", "slide decks in a web browser, such as reveal.js", {"PageDown", "PageUp", "F", "Escape", "B"},
         "F puts a reveal.js deck in full screen and Escape leaves it; F5 would reload the page. "
         "Outside full screen reveal.js opens its slide overview on Escape."},
    };
    return table;
}

const KeyChord* KeyMap::find(std::string_view command) const {
    const auto position = std::ranges::find(commandNames, command);
    return position == commandNames.end() ? nullptr : &chords_[position - commandNames.begin()];
}

std::variant<KeyMap, std::string> makeKeyMap(std::string_view profileName, const std::vector<std::string>& overrides) {
    const auto& table = profiles();
    const auto profile = std::ranges::find(table, profileName, &Profile::name);
    if (profile == table.end()) return "unknown profile " + std::string(profileName) + " (see --help)";

    std::array<std::string, 5> keys;
    std::ranges::copy(profile->keys, keys.begin());
    for (const std::string& entry : overrides) {
        const auto equals = entry.find('=');
        const auto command = std::ranges::find(commandNames, std::string_view(entry).substr(0, equals));
        if (equals == std::string::npos || command == commandNames.end()) {
            return "--key " + entry + ": expected COMMAND=KEY with COMMAND one of NEXT_SLIDE, PREVIOUS_SLIDE, "
                   "START_PRESENTATION, END_PRESENTATION, TOGGLE_BLACK_SCREEN";
        }
        keys[command - commandNames.begin()] = entry.substr(equals + 1);
    }

    std::array<KeyChord, 5> chords;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        auto chord = parseKeyChord(keys[i]);
        if (!chord) return "unknown key " + keys[i] + " for " + std::string(commandNames[i]) + " (see --help)";
        chords[i] = std::move(*chord);
    }
    return KeyMap(std::move(chords));
}

}  // namespace orbilatch::presenter
