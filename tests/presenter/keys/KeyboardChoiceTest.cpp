#include <gtest/gtest.h>

#include "fakes/FakeKeyboard.h"
#include "presenter/keys/KeyboardChoice.h"

namespace orbilatch::presenter::keys {
namespace {

using Opener = std::function<KeyboardOpening()>;

Opener opens(std::string name) {
    return [name] { return std::make_unique<testing::FakeKeyboard>(name); };
}
Opener refuses(std::string reason) {
    return [reason] { return KeyboardOpening(reason); };
}
Opener untried() {
    return [] {
        ADD_FAILURE() << "a keyboard of a kind not asked for was opened";
        return KeyboardOpening("untried");
    };
}

TEST(KeyboardChoiceTest, AutomaticFallsBackToXtestAndEveryRefusalSaysWhyAndHowToMendIt) {
    const std::string denied = "/dev/uinput: Permission denied";
    const std::string mend = "To press keys through uinput, the user at the seat needs access to /dev/uinput.";
    const struct {
        KeyboardKind kind;
        KeyboardOpeners openers;
        std::string outcome;  // the keyboard and how its notice begins ("." ends it), or how the refusal begins
    } cases[] = {
        {KeyboardKind::automatic, {opens("uinput"), untried()}, "uinput: ."},
        {KeyboardKind::automatic, {refuses(denied), opens("xtest")},
         "xtest: " + denied + "; XTEST stands in, for X11 windows only.\n" + mend},
        {KeyboardKind::automatic, {refuses(denied), refuses("DISPLAY is not set")},
         "cannot press keys.\n    uinput: " + denied + "\n    XTEST: DISPLAY is not set\n" + mend},
        {KeyboardKind::uinput, {refuses(denied), untried()},
         "cannot press keys through uinput: " + denied + "\n" + mend},
        {KeyboardKind::xtest, {untried(), opens("xtest")}, "xtest: ."},
        {KeyboardKind::xtest, {untried(), refuses("DISPLAY is not set")},
         "cannot press keys through XTEST: DISPLAY is not set"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        auto opened = openKeyboard(c.kind, c.openers);
        const auto* keyboard = std::get_if<OpenedKeyboard>(&opened);
        const std::string outcome = keyboard ? keyboard->keyboard->description() + ": " + keyboard->notice + "."
                                             : std::get<std::string>(opened);
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::keys
