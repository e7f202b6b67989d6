#include "presenter/keys/Keys.h"

#include <linux/input-event-codes.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cctype>

namespace orbilatch::presenter::keys {
namespace {

constexpr Key modifierKeys[] = {
    {"Ctrl", KEY_LEFTCTRL, XK_Control_L},
    {"Shift", KEY_LEFTSHIFT, XK_Shift_L},
    {"Alt", KEY_LEFTALT, XK_Alt_L},
    {"Super", KEY_LEFTMETA, XK_Super_L},
};

constexpr Key namedKeys[] = {
    {"PageDown", KEY_PAGEDOWN, XK_Page_Down}, {"PageUp", KEY_PAGEUP, XK_Page_Up},
    {"Right", KEY_RIGHT, XK_Right},           {"Left", KEY_LEFT, XK_Left},
    {"Down", KEY_DOWN, XK_Down},              {"Up", KEY_UP, XK_Up},
    {"Home", KEY_HOME, XK_Home},              {"End", KEY_END, XK_End},
    {"Escape", KEY_ESC, XK_Escape},           {"Space", KEY_SPACE, XK_space},
    {"Return", KEY_ENTER, XK_Return},         {"Tab", KEY_TAB, XK_Tab},
    {"BackSpace", KEY_BACKSPACE, XK_BackSpace}, {"Delete", KEY_DELETE, XK_Delete},
    {"Insert", KEY_INSERT, XK_Insert},        {"Period", KEY_DOT, XK_period},
    {"Comma", KEY_COMMA, XK_comma},           {"F1", KEY_F1, XK_F1},
    {"F2", KEY_F2, XK_F2},                    {"F3", KEY_F3, XK_F3},
    {"F4", KEY_F4, XK_F4},                    {"F5", KEY_F5, XK_F5},
    {"F6", KEY_F6, XK_F6},                    {"F7", KEY_F7, XK_F7},
    {"F8", KEY_F8, XK_F8},                    {"F9", KEY_F9, XK_F9},
    {"F10", KEY_F10, XK_F10},                 {"F11", KEY_F11, XK_F11},
    {"F12", KEY_F12, XK_F12},
};

// The kernel numbers letters and digits along the rows of a US keyboard.
struct Row {
    std::string_view keys;
    std::uint16_t firstCode;
};
constexpr Row letterRows[] = {{"QWERTYUIOP", KEY_Q}, {"ASDFGHJKL", KEY_A}, {"ZXCVBNM", KEY_Z}};
constexpr std::string_view letterNames = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view digitNames = "1234567890";

std::vector<Key> buildAllKeys() {
    std::vector<Key> keys(std::begin(modifierKeys), std::end(modifierKeys));
    keys.insert(keys.end(), std::begin(namedKeys), std::end(namedKeys));
    for (const Row& row : letterRows) {
        for (std::size_t i = 0; i < row.keys.size(); ++i) {
            const auto letter = letterNames.find(row.keys[i]);
            keys.push_back({letterNames.substr(letter, 1), static_cast<std::uint16_t>(row.firstCode + i),
                            static_cast<std::uint32_t>(XK_a + letter)});
        }
    }
    for (std::size_t i = 0; i < digitNames.size(); ++i) {
        keys.push_back({digitNames.substr(i, 1), static_cast<std::uint16_t>(KEY_1 + i),
                        static_cast<std::uint32_t>(digitNames[i])});  // the keysyms of digits are their ASCII codes
    }
    return keys;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::optional<Key> findKey(std::string_view name) {
    for (const Key& key : allKeys()) {
        if (sameName(key.name, name)) return key;
    }
    return std::nullopt;
}

bool isModifier(const Key& key) { return std::ranges::find(modifierKeys, key) != std::end(modifierKeys); }

}  // namespace

const std::vector<Key>& allKeys() {
    static const std::vector<Key> keys = buildAllKeys();
    return keys;
}

std::string KeyChord::name() const {
    std::string text;
    for (const Key& modifier : modifiers) {
        text.append(modifier.name);
        text.push_back('+');
    }
    text.append(key.name);
    return text;
}

std::optional<KeyChord> parseKeyChord(std::string_view text) {
    std::vector<Key> keys;
    for (;;) {
        const auto plus = text.find('+');
        const auto key = findKey(text.substr(0, plus));
        if (!key || std::ranges::find(keys, *key) != keys.end()) return std::nullopt;
        keys.push_back(*key);
        if (plus == std::string_view::npos) break;
        text.remove_prefix(plus + 1);
    }
    if (keys.empty() || isModifier(keys.back())) return std::nullopt;
    KeyChord chord{{keys.begin(), keys.end() - 1}, keys.back()};
    if (!std::ranges::all_of(chord.modifiers, isModifier)) return std::nullopt;
    return chord;
}

}  // namespace orbilatch::presenter::keys
