#include "presenter/options/Options.h"

#include <algorithm>
#include <array>
#include <optional>

#include "presenter/ProgramChoice.h"

namespace orbilatch::presenter::options {
namespace {

using keys::KeyboardKind;

std::optional<KeyboardKind> keyboardKind(std::string_view name) {
    if (name == "auto") return KeyboardKind::automatic;
    if (name == "uinput") return KeyboardKind::uinput;
    if (name == "xtest") return KeyboardKind::xtest;
    return std::nullopt;
}

// The programs driven directly, and the keys.
constexpr std::array<std::string_view, 4> apps = {"pdfpc", "okular", "impress", ProgramChoice::keysName};

std::string padded(std::string_view text, std::size_t width) {
    std::string line(text);
    line.resize(std::max(width, line.size()), ' ');
    return line;
}

}  // namespace

std::variant<Options, std::string> parseOptions(const std::vector<std::string_view>& arguments) {
    std::string agent;
    std::string app;
    std::string profile = "default";
    std::vector<std::string> overrides;
    KeyboardKind keyboard = KeyboardKind::automatic;
    bool anyWindow = false;
    bool json = false;
    std::optional<bool> notify;
    bool check = false;
    bool help = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view option = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = option.find('='); option.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        const bool takesValue = option == "--agent" || option == "--app" || option == "--profile" ||
                                option == "--key" || option == "--keyboard";
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
        } else if (option == "--app") {
            if (std::ranges::find(apps, value) == apps.end()) {
                return "--app " + std::string(value) + ": expected pdfpc, okular, impress or keys";
            }
            app = value;
        } else if (option == "--profile") {
            profile = value;
        } else if (option == "--key") {
            overrides.emplace_back(value);
        } else if (option == "--keyboard") {
            const auto kind = keyboardKind(value);
            if (!kind) return "--keyboard " + std::string(value) + ": expected auto, uinput or xtest";
            keyboard = *kind;
        } else if (option == "--any-window") {
            anyWindow = true;
        } else if (option == "--json") {
            json = true;
        } else if (option == "--notify" || option == "--no-notify") {
            notify = option == "--notify";
        } else if (option == "--check") {
            check = true;
        } else if (option == "--help" || option == "-h") {
            help = true;
        } else {
            return "unknown option " + std::string(arguments[i]) + " (see --help)";
        }
    }

    auto keyMap = keys::makeKeyMap(profile, overrides);
    if (auto* error = std::get_if<std::string>(&keyMap)) return *error;
    return Options{agent, app, std::get<keys::KeyMap>(std::move(keyMap)), *keys::profileNamed(profile), anyWindow,
                   keyboard, json, notify, check, help};
}

std::string helpText() {
    std::string text = R"(Usage: orbilatch-present [OPTION]...
Starts orbilatch-agent and carries each command of the watch out: in pdfpc,
Okular or LibreOffice Impress, when one runs, by the program's own interface;
otherwise as one key press for the focused window.

  --app NAME         drive only this program: pdfpc, okular or impress; or keys
                     to press keys whatever runs
  --profile NAME     the keys for one kind of program, below (default: default)
  --key COMMAND=KEY  the key for one command instead of the profile's, such as
                     NEXT_SLIDE=Right or END_PRESENTATION=Ctrl+Q; repeatable
  --keyboard KIND    auto (the default: uinput, or XTEST where /dev/uinput
                     cannot be used), uinput or xtest
  --any-window       press keys whichever window has the focus; without it a
                     key for a window of another program than the profile's
                     is not pressed, and the command fails
  --json             the agent's event lines on standard output instead of the
                     status line
  --notify, --no-notify
                     desktop notifications of the watch, Bluetooth and failed
                     commands, or none (default: only without a terminal)
  --check            check the set-up, one line per check, and exit: 0 when
                     the presenter can present, 1 otherwise
  --agent PATH       the agent to run (default: orbilatch-agent in the folder
                     of this program)
  -h, --help         this text

Profiles and their keys:
)";
    const auto& table = keys::profiles();
    // Columns of one width; the last one is not padded, so no line ends in spaces.
    const auto row = [&table](std::string_view head, auto cell) {
        std::string line = padded(head, 22);
        for (std::size_t i = 0; i < table.size(); ++i) {
            line += i + 1 < table.size() ? padded(cell(table[i]), 14) : std::string(cell(table[i]));
        }
        return line + "\n";
    };
    text += row("", [](const keys::Profile& profile) { return profile.name; });
    for (const protocol::Command command : protocol::commands) {
        text += row("  " + std::string(protocol::commandName(command)),
                    [command](const keys::Profile& profile) { return profile.keys[protocol::indexOf(command)]; });
    }
    for (const keys::Profile& profile : table) {
        text += "  " + std::string(profile.name) + ": " + std::string(profile.suits) + "\n";
    }
    return text + "\nKey names, the exit status and more: man orbilatch-present\n";
}

}  // namespace orbilatch::presenter::options
