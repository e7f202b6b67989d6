#include <gtest/gtest.h>
#include <libevdev/libevdev.h>

#include <X11/Xlib.h>

#include <cctype>

#include "presenter/Options.h"

namespace orbilatch::presenter {
namespace {

TEST(KeyMapTest, CommandLinesGiveTheirKeysOrSayWhatIsWrong) {
    const struct {
        std::vector<std::string_view> arguments;
        std::string outcome;  // the five keys, or how the sentence refusing the line begins
    } cases[] = {
        {{}, "PageDown PageUp F5 Escape B"},
        {{"--profile", "okular"}, "PageDown PageUp Ctrl+Shift+P Escape B"},
        {{"--profile=browser", "--key", "NEXT_SLIDE=right", "--key=TOGGLE_BLACK_SCREEN=Period"},
         "Right PageUp F Escape Period"},
        {{"--key", "END_PRESENTATION=alt+f4", "--key", "END_PRESENTATION=ctrl+q"}, "PageDown PageUp F5 Ctrl+Q B"},
        {{"--profile", "impress"}, "unknown profile impress"},
        {{"--key", "NEXT=Right"}, "--key NEXT=Right: expected COMMAND=KEY"},
        {{"--key", "NEXT_SLIDE=PgDn"}, "unknown key PgDn for NEXT_SLIDE"},
        {{"--key", "NEXT_SLIDE=Ctrl+Ctrl+P"}, "unknown key Ctrl+Ctrl+P for NEXT_SLIDE"},
        {{"--key", "NEXT_SLIDE=Ctrl++"}, "unknown key Ctrl++ for NEXT_SLIDE"},
        {{"--keyboard", "evdev"}, "--keyboard evdev: expected auto, uinput or xtest"},
        {{"--agent"}, "--agent needs a value"},
        {{"--json=yes"}, "--json takes no value"},
        {{"-v"}, "unknown option -v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const auto parsed = parseOptions(c.arguments);
        std::string outcome;
        if (const auto* options = std::get_if<Options>(&parsed)) {
            for (const KeyChord& chord : options->keys.chords()) outcome += (outcome.empty() ? "" : " ") + chord.name();
        } else {
            outcome = std::get<std::string>(parsed).substr(0, c.outcome.size());
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

// The letters and digits are numbered by rule; the kernel's and X's own
// names for each code say whether the rule holds.
TEST(KeyMapTest, LettersAndDigitsCarryTheirOwnCodes) {
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

}  // namespace
}  // namespace orbilatch::presenter
