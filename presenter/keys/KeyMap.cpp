#include "presenter/keys/KeyMap.h"

#include <algorithm>
#include <cctype>

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
// tests, did otherwise. The window classes are what the programs set.
const std::vector<Profile>& profiles() {
    static const std::vector<Profile> table = {
        // F5 starts the show in Impress and Evince, Escape ends it, B blacks the screen.
        // Impress's windows are "libreoffice-impress"; with the GTK plug-in its show window is "Soffice".
        {"default", "LibreOffice Impress and Evince", {"PageDown", "PageUp", "F5", "Escape", "B"},
         {"libreoffice-impress", "soffice", "evince"}},
        // F5 would reload the document.
        {"okular", "Okular", {"PageDown", "PageUp", "Ctrl+Shift+P", "Escape", "B"}, {"okular"}},
        // pdfpc presents from the start and has no show to end: the first and the last page stand in.
        {"pdfpc", "pdfpc", {"PageDown", "PageUp", "Home", "End", "B"}, {"pdfpc"}},
        // F puts a reveal.js deck in full screen and Escape leaves it; F5 would reload the page.
        {"browser", "slide decks such as reveal.js in Firefox, Chromium or Google Chrome",
         {"PageDown", "PageUp", "F", "Escape", "B"},
         {"firefox", "firefox-esr", "chromium", "chromium-browser", "google-chrome"}},
    };
    return table;
}

std::string KeyMap::describe() const {
    std::string text;
    for (const protocol::Command command : protocol::commands) {
        if (command != protocol::commands.front()) text += ", ";
        text += std::string(protocol::commandName(command)) + " " + chordFor(command).name();
    }
    return text;
}

bool isFor(const Profile& profile, std::string_view windowClass) {
    const auto sameLetters = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::ranges::any_of(profile.windowClasses, [&](std::string_view known) {
        return std::ranges::equal(known, windowClass, sameLetters);
    });
}

const Profile* profileNamed(std::string_view name) {
    const auto& table = profiles();
    const auto profile = std::ranges::find(table, name, &Profile::name);
    return profile == table.end() ? nullptr : &*profile;
}

std::variant<KeyMap, std::string> makeKeyMap(std::string_view profileName, const std::vector<std::string>& overrides) {
    const Profile* profile = profileNamed(profileName);
    if (profile == nullptr) return "unknown profile " + std::string(profileName) + " (see --help)";

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
