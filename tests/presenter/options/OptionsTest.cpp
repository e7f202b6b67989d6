#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "presenter/options/Options.h"

namespace orbilatch::presenter::options {
namespace {

// What a command line changed from the profile's keys and the defaults.
std::string changes(const Options& options, std::string_view profileName) {
    const auto profileKeys = std::get<keys::KeyMap>(keys::makeKeyMap(profileName, {}));
    std::string text = "keyboard " + std::to_string(static_cast<int>(options.keyboard));
    for (const protocol::Command command : protocol::commands) {
        const std::string key = options.keys.chordFor(command).name(), name(protocol::commandName(command));
        if (key != profileKeys.chordFor(command).name()) text += ", " + name + " " + key;
    }
    const std::string notify = options.notify ? (*options.notify ? ", notify" : ", no notify") : "";
    return text + (options.agent.empty() ? "" : ", agent " + options.agent) +
           (options.app.empty() ? "" : ", app " + options.app) + (options.anyWindow ? ", any window" : "") +
           (options.json ? ", json" : "") + notify + (options.check ? ", check" : "") + (options.help ? ", help" : "");
}

TEST(OptionsTest, CommandLinesGiveTheirChoicesOrSayWhatIsWrong) {
    const struct {
        std::vector<std::string_view> arguments;
        std::string_view profile;
        std::string outcome;  // the changes, or how the sentence refusing the line begins
    } cases[] = {
        {{}, "default", "keyboard 0"},
        {{"--profile=browser", "--key", "NEXT_SLIDE=right", "--key=TOGGLE_BLACK_SCREEN=Period", "--keyboard", "xtest"},
         "browser", "keyboard 2, NEXT_SLIDE Right, TOGGLE_BLACK_SCREEN Period"},
        {{"--key", "END_PRESENTATION=alt+f4", "--key", "END_PRESENTATION=ctrl+q", "--keyboard=uinput", "--agent", "/a",
          "--any-window", "--json", "-h", "--app", "okular"},
         "default", "keyboard 1, END_PRESENTATION Ctrl+Q, agent /a, app okular, any window, json, help"},
        {{"--app=evince"}, {}, "--app evince: expected pdfpc, okular, impress or keys"},
        {{"--notify", "--check", "--no-notify"}, "default", "keyboard 0, no notify, check"},
        {{"--no-notify", "--notify"}, "default", "keyboard 0, notify"},
        {{"--profile", "impress"}, {}, "unknown profile impress"},
        {{"--key", "NEXT=Right"}, {}, "--key NEXT=Right: expected COMMAND=KEY"},
        {{"--key", "NEXT_SLIDE=PgDn"}, {}, "unknown key PgDn for NEXT_SLIDE"},
        {{"--key", "NEXT_SLIDE=Ctrl+Ctrl+P"}, {}, "unknown key Ctrl+Ctrl+P for NEXT_SLIDE"},
        {{"--keyboard", "evdev"}, {}, "--keyboard evdev: expected auto, uinput or xtest"},
        {{"--agent"}, {}, "--agent needs a value"},
        {{"--json=yes"}, {}, "--json takes no value"},
        {{"-v"}, {}, "unknown option -v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const auto parsed = parseOptions(c.arguments);
        const auto* options = std::get_if<Options>(&parsed);
        EXPECT_EQ(options ? changes(*options, c.profile) : std::get<std::string>(parsed).substr(0, c.outcome.size()),
                  c.outcome);
    }
}

std::set<std::string> longOptions(const std::string& text) {
    const std::regex option("--[a-z-]+");
    return {std::sregex_token_iterator(text.begin(), text.end(), option), {}};
}

TEST(OptionsTest, TheShellCompletesEachOptionThatHelpNames) {
    std::ifstream file(ORBILATCH_DATA "/bash-completion/orbilatch-present");
    const std::string script{std::istreambuf_iterator<char>(file), {}};
    const auto list = script.find("compgen -W '--");  // the other lists complete the options' values
    ASSERT_NE(list, std::string::npos);
    EXPECT_EQ(longOptions(script.substr(list, script.find('\'', list + 12) - list)), longOptions(helpText()));
}

}  // namespace
}  // namespace orbilatch::presenter::options
