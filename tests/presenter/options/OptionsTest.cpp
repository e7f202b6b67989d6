#include <gtest/gtest.h>

#include "presenter/options/Options.h"

namespace orbilatch::presenter::options {
namespace {

// What the program was asked for, in a few words.
std::string summary(const Options& options) {
    std::string text = "agent '" + options.agent + "', keyboard " +
                       std::to_string(static_cast<int>(options.keyboard)) + ", keys";
    for (const protocol::Command command : protocol::commands) text += " " + options.keys.chordFor(command).name();
    return text + (options.json ? ", json" : "") + (options.help ? ", help" : "");
}

// The keys themselves are the key map's: here only that the options reach it.
std::string keysOf(std::string_view profile, std::vector<std::string> overrides = {}) {
    std::string text;
    const auto keys = std::get<keys::KeyMap>(keys::makeKeyMap(profile, overrides));
    for (const protocol::Command command : protocol::commands) text += " " + keys.chordFor(command).name();
    return text;
}

TEST(OptionsTest, CommandLinesGiveTheirChoicesOrSayWhatIsWrong) {
    const struct {
        std::vector<std::string_view> arguments;
        std::string outcome;  // the summary, or how the sentence refusing the line begins
    } cases[] = {
        {{}, "agent '', keyboard 0, keys" + keysOf("default")},
        {{"--profile=okular", "--key", "NEXT_SLIDE=Right", "--keyboard", "xtest", "--json", "--agent", "/a"},
         "agent '/a', keyboard 2, keys" + keysOf("okular", {"NEXT_SLIDE=Right"}) + ", json"},
        {{"--keyboard=uinput", "-h"}, "agent '', keyboard 1, keys" + keysOf("default") + ", help"},
        {{"--profile", "impress"}, "unknown profile impress"},
        {{"--keyboard", "evdev"}, "--keyboard evdev: expected auto, uinput or xtest"},
        {{"--agent"}, "--agent needs a value"},
        {{"--json=yes"}, "--json takes no value"},
        {{"-v"}, "unknown option -v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const auto parsed = parseOptions(c.arguments);
        const auto* options = std::get_if<Options>(&parsed);
        EXPECT_EQ(options ? summary(*options) : std::get<std::string>(parsed).substr(0, c.outcome.size()), c.outcome);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::options
