#include <gtest/gtest.h>
#include <libevdev/libevdev.h>

#include <X11/Xlib.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>

#include "presenter/keys/KeyRoute.h"
#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::keys {
namespace {

struct FakeKeyboard final : Keyboard {
    explicit FakeKeyboard(std::string name = "fake") : name(std::move(name)) {}
    std::optional<Failure> press(const KeyChord& chord) override {
        pressed = chord.name();
        return std::nullopt;
    }
    std::string description() const override { return name; }
    std::string name, pressed;
};

// The letters and digits are numbered by rule; the kernel's and X's own
// names for each code say whether the rule holds.
TEST(KeysTest, LettersAndDigitsCarryTheirOwnCodes) {
    int checked = 0;
    for (const Key& key : allKeys()) {
        if (key.name.size() != 1) continue;
        const std::string name(key.name);
        EXPECT_STREQ(libevdev_event_code_get_name(EV_KEY, key.evdevCode), ("KEY_" + name).c_str());
        const std::string lower(1, static_cast<char>(std::tolower(name[0])));
        EXPECT_EQ(key.keysym, XStringToKeysym(lower.c_str())) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 36);
}

using ProfileKeys = std::map<std::string, std::map<std::string, std::string>>;  // by profile, then by command

// docs/KEYS.md: "| command | default | okular | ... |", then a row per command.
ProfileKeys guideKeys() {
    ProfileKeys keys;
    std::vector<std::string> columns;
    const std::regex cellPattern(R"(\| ([^|]+?) (?=\|))");
    std::ifstream guide(ORBILATCH_DOCS "/KEYS.md");
    for (std::string line; std::getline(guide, line);) {
        const std::vector<std::string> cells(std::sregex_token_iterator(line.begin(), line.end(), cellPattern, 1), {});
        if (!cells.empty() && cells[0] == "command") columns.assign(cells.begin() + 1, cells.end());
        if (cells.empty() || !protocol::commandNamed(cells[0])) continue;
        for (std::size_t i = 1; i < cells.size(); ++i) keys[columns.at(i - 1)][cells[0]] = cells[i];
    }
    return keys;
}

TEST(KeysTest, EachProfilePressesTheKeysTheUsersGuideNames) {
    ProfileKeys pressed;
    for (const Profile& profile : profiles()) {
        FakeKeyboard keyboard;
        KeyRoute route(keyboard, std::get<KeyMap>(makeKeyMap(profile.name, {})));
        for (const protocol::Command command : protocol::commands) {
            route.carryOut(command);
            pressed[std::string(profile.name)][std::string(protocol::commandName(command))] = keyboard.pressed;
        }
    }
    EXPECT_EQ(pressed, guideKeys());
}

TEST(KeysTest, AutomaticFallsBackToXtestAndEveryRefusalSaysWhyAndHowToMendIt) {
    const auto opens = [](std::string name) {
        return [name] { return KeyboardOpening(std::make_unique<FakeKeyboard>(name)); };
    };
    const auto refuses = [](std::string reason) { return [reason] { return KeyboardOpening(reason); }; };
    const auto untried = refuses("a kind not asked for was tried");
    const std::string denied = "/dev/uinput: Permission denied";
    const std::string mend = "To press keys through uinput, the user at the seat needs access to /dev/uinput.";
    const struct {
        KeyboardKind kind;
        KeyboardOpeners openers;
        std::string outcome;  // the keyboard and how its notice begins ("." ends it), or how the refusal begins
    } cases[] = {
        {KeyboardKind::automatic, {opens("uinput"), untried}, "uinput: ."},
        {KeyboardKind::automatic, {refuses(denied), opens("xtest")},
         "xtest: " + denied + "; XTEST stands in, for X11 windows only.\n" + mend},
        {KeyboardKind::automatic, {refuses(denied), refuses("DISPLAY is not set")},
         "cannot press keys.\n    uinput: " + denied + "\n    XTEST: DISPLAY is not set\n" + mend},
        {KeyboardKind::uinput, {refuses(denied), opens("xtest")},
         "cannot press keys through uinput: " + denied + "\n" + mend},
        {KeyboardKind::xtest, {untried, opens("xtest")}, "xtest: ."},
    };
    for (const auto& c : cases) {
        auto opened = openKeyboard(c.kind, c.openers);
        const auto* keyboard = std::get_if<OpenedKeyboard>(&opened);
        const std::string outcome = keyboard ? keyboard->keyboard->description() + ": " + keyboard->notice + "."
                                             : std::get<std::string>(opened);
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::keys
