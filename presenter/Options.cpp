#include "presenter/Options.h"

#include <optional>

namespace orbilatch::presenter {
namespace {

std::optional<KeyboardKind> keyboardKind(std::string_view name) {
    if (name == "auto") return KeyboardKind::Auto;
    if (name == "uinput") return KeyboardKind::Uinput;
    if (name == "xtest") return KeyboardKind::Xtest;
    return std::nullopt;
}

// Words of text on lines of at most width characters, each indented.
std::string wrap(std::string_view text, std::string_view indent, std::size_t width = 80) {
    std::string wrapped;
    std::size_t lineLength = 0;
    while (!text.empty()) {
        const auto space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            wrapped += "\n";
            lineLength = 0;
        }
        if (lineLength == 0) {
            wrapped += indent;
            lineLength = indent.size();
        } else {
            wrapped += ' ';
            ++lineLength;
        }
        wrapped += word;
        lineLength += word.size();
    }
    return wrapped + "\n";
}

}  // namespace

std::variant<Options, std::string> parseOptions(const std::vector<std::string_view>& arguments) {
    std::string agent;
    std::string profile = "default";
    std::vector<std::string> overrides;
    KeyboardKind keyboard = KeyboardKind::Auto;
    bool json = false;
    bool help = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view option = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = option.find('='); option.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        const bool takesValue = option == "--agent" || option == "--profile" || option == "--key" || option == "--keyboard";
        if (!takesValue && inlineValue) return std::string(option) + " takes no value";
        std::string_view value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                return std::string(option) + " needs a value";
            }
        }

        if (option == "--agent") {
            agent = value;
        } else if (option == "--profile") {
            profile = value;
        } else if (option == "--key") {
            overrides.emplace_back(value);
        } else if (option == "--keyboard") {
            const auto kind = keyboardKind(value);
            if (!kind) return "--keyboard " + std::string(value) + ": expected auto, uinput or xtest";
            keyboard = *kind;
        } else if (option == "--json") {
            json = true;
        } else if (option == "--help" || option == "-h") {
            help = true;
        } else {
            return "unknown option " + std::string(arguments[i]) + " (see --help)";
        }
    }

    auto keys = makeKeyMap(profile, overrides);
    if (auto* error = std::get_if<std::string>(&keys)) return *error;
    return Options{agent, std::get<KeyMap>(std::move(keys)), keyboard, json, help};
}

std::string helpText() {
    std::string text = R"(NAME
    orbilatch-present - change slides from the watch

SYNOPSIS
    orbilatch-present [--profile NAME] [--key COMMAND=KEY]... [--keyboard auto|uinput|xtest]
                      [--json] [--agent PATH]

DESCRIPTION
    Starts orbilatch-agent, waits for the watch and turns each of its commands
    into one key press on a virtual keyboard, as a USB presentation clicker
    does: the key goes to the focused window. Open the slides, start the show,
    tap the watch. Each command is answered to the watch as executed, or as
    failed with the reason, once its key went out or could not.

    On a terminal one status line shows the Bluetooth adapter, the watch, the
    last command and how long its key took, and how many commands were carried
    out; otherwise one such line is printed per change. Diagnostics, the
    agent's included, go to standard error.

    Ctrl-C (SIGINT) or SIGTERM asks the agent to shut down and waits for it; an
    agent that does not stop within two seconds is killed. When the agent stops
    on its own the presenter says so and exits with status 1.

OPTIONS
    --profile NAME
        The keys for the five commands, for one kind of program (below).
        Default: default.
    --key COMMAND=KEY
        The key for one command, over the profile's; repeatable. COMMAND is
        NEXT_SLIDE, PREVIOUS_SLIDE, START_PRESENTATION, END_PRESENTATION or
        TOGGLE_BLACK_SCREEN. KEY is a key name, with modifiers before it
        joined by + (Ctrl+Shift+P). Names, in any case: A-Z, 0-9, F1-F12,
        PageDown, PageUp, Right, Left, Down, Up, Home, End, Escape, Space,
        Return, Tab, BackSpace, Delete, Insert, Period, Comma; modifiers Ctrl,
        Shift, Alt, Super.
    --keyboard auto|uinput|xtest
        How keys are pressed. uinput: a virtual keyboard in the kernel, seen
        by X11, Wayland and the console alike; it needs write access to
        /dev/uinput. xtest: the X server's XTEST extension on $DISPLAY, X11
        (and XWayland windows) only. auto (the default) uses uinput, and XTEST
        when /dev/uinput cannot be used and DISPLAY is set.
    --json
        Instead of the status line, write the agent's event lines to standard
        output unchanged, one JSON object per line, for scripts.
    --agent PATH
        The agent to run. Default: orbilatch-agent in this program's folder.
    -h, --help
        This text.

PROFILES
)";
    for (const Profile& profile : profiles()) {
        std::string keys;
        for (std::size_t i = 0; i < commandNames.size(); ++i) {
            keys += std::string(commandNames[i]) + " " + std::string(profile.keys[i]);
            keys += i + 1 < commandNames.size() ? ", " : ".";
        }
        text += "    " + std::string(profile.name) + "\n" + wrap("For " + std::string(profile.suits) + ".", "        ") +
                wrap(keys, "        ") + wrap(profile.notes, "        ");
    }
    text += R"(
ACCESS TO /dev/uinput
    The package installs /usr/lib/udev/rules.d/70-orbilatch-uinput.rules,
    which gives the user at the seat access to /dev/uinput. Built from the
    source, install data/70-orbilatch-uinput.rules yourself:
        sudo cp data/70-orbilatch-uinput.rules /etc/udev/rules.d/
        sudo modprobe uinput
        sudo udevadm control --reload && sudo udevadm trigger --name-match=uinput

EXIT STATUS
    0 after a shutdown by signal; 1 when the agent stopped on its own or had
    to be killed; 2 for a wrong command line or when no key can be pressed.
)";
    return text;
}

}  // namespace orbilatch::presenter
