#include <gtest/gtest.h>
#include <libevdev/libevdev.h>

#include <X11/Xlib.h>

#include <cctype>
#include <fstream>

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

struct FakeFocus final : WindowFocus {
    explicit FakeFocus(Focus seen) : seen(std::move(seen)) {}
    Focus read() override { return seen; }
    std::string description() const override { return "as a fake shows it"; }
    Focus seen;
};

TEST(KeyRouteTest, AKeyGoesOutOnlyToTheProfilesProgramsOrWhereTheFocusCannotBeSeen) {
    using enum Focus::Seen;
    const std::string refused = "FOCUS_ELSEWHERE: the focus is on ";
    const struct {
        std::string_view profile;
        std::optional<Focus> focus;  // nothing: --any-window
        std::string outcome;         // the key pressed, or the failure
    } cases[] = {
        {"pdfpc", Focus{window, "Pdfpc"}, "PageDown"},
        {"default", Focus{window, "XTerm"}, refused + "XTerm, not a program of the default profile"},
        {"pdfpc", Focus{window, "Pdfpc-helper"}, refused + "Pdfpc-helper, not a program of the pdfpc profile"},
        {"okular", Focus{unknown, ""}, "PageDown (focus unknown)"},
        {"okular", std::nullopt, "PageDown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " " + (c.focus ? c.focus->windowClass : "--any-window"));
        FakeKeyboard keyboard;
        KeyRoute route(keyboard, std::get<KeyMap>(makeKeyMap(c.profile, {})), *profileNamed(c.profile),
                       c.focus ? std::make_unique<FakeFocus>(*c.focus) : nullptr);
        std::string outcome;
        route.carryOut(protocol::Command::nextSlide, [&outcome](Carried carried) {
            outcome = carried.failure ? carried.failure->code + ": " + carried.failure->reason : carried.action;
        });
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(keyboard.pressed, c.outcome.starts_with("PageDown") ? "PageDown" : "");
    }
}

// Letters and digits are numbered by rule; the kernel's and X's own names for each code check it.
TEST(KeysTest, LettersAndDigitsCarryTheirOwnCodes) {
    std::string checked;
    for (const Key& key : allKeys()) {
        if (key.name.size() != 1) continue;
        checked += key.name;
        EXPECT_STREQ(libevdev_event_code_get_name(EV_KEY, key.evdevCode), ("KEY_" + std::string(key.name)).c_str());
        EXPECT_EQ(key.keysym, XStringToKeysym(std::string(1, static_cast<char>(std::tolower(key.name[0]))).c_str()));
    }
    EXPECT_EQ(checked.size(), 36u) << checked;
}

// The table of docs/KEYS.md, a column per profile and a row per command, as the keys pressed make it.
TEST(KeysTest, EachProfilePressesTheKeysTheUsersGuideNames) {
    std::string table = "| command |", rule = "|---|";
    protocol::PerCommand<std::string> rows;
    for (const Profile& profile : profiles()) {
        table += " " + std::string(profile.name) + " |";
        rule += "---|";
        FakeKeyboard keyboard;
        KeyRoute route(keyboard, std::get<KeyMap>(makeKeyMap(profile.name, {})), profile, nullptr);
        for (const protocol::Command command : protocol::commands) {
            route.carryOut(command, [](Carried) {});
            rows[protocol::indexOf(command)] += " " + keyboard.pressed + " |";
        }
    }
    table += "\n" + rule + "\n";
    for (const protocol::Command command : protocol::commands) {
        table += "| " + std::string(protocol::commandName(command)) + " |" + rows[protocol::indexOf(command)] + '\n';
    }
    std::ifstream file(ORBILATCH_DOCS "/KEYS.md");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(file), {}).find(table), std::string::npos) << table;
}

TEST(KeysTest, AutomaticFallsBackToXtestAndEveryRefusalSaysWhyAndHowToMendIt) {
    const auto opens = [](std::string name) {
        return [name] { return KeyboardOpening(std::make_unique<FakeKeyboard>(name)); };
    };
    const auto refuses = [](std::string reason) { return [reason] { return KeyboardOpening(reason); }; };
    const auto untried = refuses("a kind not asked for was tried");
    const std::string denied = "/dev/uinput: Permission denied",
                      mend = "To press keys through uinput, the user at the seat needs access to /dev/uinput.";
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
        EXPECT_EQ(keyboard && keyboard->throughX, keyboard && keyboard->keyboard->description() == "xtest");
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::keys
