#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "fakes/FakeKeyboard.h"
#include "presenter/keys/KeyRoute.h"

namespace orbilatch::presenter::keys {
namespace {

using Keys = std::map<std::string, std::map<std::string, std::string>>;  // by profile, then by command

std::string read(const std::string& path) {
    std::ifstream file(std::string(ORBILATCH_DOCS) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// docs/KEYS.md: "| command | default | okular | ... |", then one row per command.
Keys guideKeys() {
    Keys keys;
    std::vector<std::string> columns;
    const std::regex tableCell(R"(\| ([^|]+?) (?=\|))");
    std::istringstream guide(read("KEYS.md"));
    for (std::string line; std::getline(guide, line);) {
        std::vector<std::string> cells;
        for (std::sregex_iterator cell(line.begin(), line.end(), tableCell), end; cell != end; ++cell) {
            cells.push_back((*cell)[1]);
        }
        if (!cells.empty() && cells[0] == "command") columns.assign(cells.begin() + 1, cells.end());
        if (cells.empty() || !protocol::commandNamed(cells[0])) continue;
        for (std::size_t i = 1; i < cells.size(); ++i) keys[columns.at(i - 1)][cells[0]] = cells[i];
    }
    return keys;
}

// The manual page's PROFILES: ".B okular", then "PageDown, PageUp, Ctrl+Shift+P, Escape, B: Okular, ...",
// the keys in the order of the commands.
Keys manualKeys() {
    Keys keys;
    const std::string manual = read("man/orbilatch-present.1");
    const std::regex profile(R"(\n\.B (\w+)\n([^:\n]+):)");
    for (std::sregex_iterator match(manual.begin(), manual.end(), profile), end; match != end; ++match) {
        std::istringstream list((*match)[2]);
        std::size_t next = 0;
        for (std::string key; std::getline(list >> std::ws, key, ',');) {
            keys[(*match)[1]][std::string(protocol::commandName(protocol::commands.at(next++)))] = key;
        }
    }
    return keys;
}

TEST(KeyMapTest, EachProfilePressesTheKeysItsDocumentationNames) {
    Keys pressed;
    for (const Profile& profile : profiles()) {
        testing::FakeKeyboard keyboard;
        KeyRoute route(keyboard, std::get<KeyMap>(makeKeyMap(profile.name, {})));
        for (const protocol::Command command : protocol::commands) {
            route.carryOut(command);
            pressed[std::string(profile.name)][std::string(protocol::commandName(command))] = keyboard.pressed.back();
        }
    }
    EXPECT_EQ(pressed, guideKeys());
    EXPECT_EQ(pressed, manualKeys());
}

TEST(KeyMapTest, OverridesReplaceTheProfilesKeysOrSayWhatIsWrong) {
    const struct {
        std::string profile;
        std::vector<std::string> overrides;
        std::string outcome;  // the changed keys by command, or how the sentence refusing them begins
    } cases[] = {
        {"browser", {"NEXT_SLIDE=right", "TOGGLE_BLACK_SCREEN=Period"}, "NEXT_SLIDE Right, TOGGLE_BLACK_SCREEN Period"},
        {"default", {"END_PRESENTATION=alt+f4", "END_PRESENTATION=ctrl+q"}, "END_PRESENTATION Ctrl+Q"},
        {"impress", {}, "unknown profile impress"},
        {"default", {"NEXT=Right"}, "--key NEXT=Right: expected COMMAND=KEY"},
        {"default", {"NEXT_SLIDE"}, "--key NEXT_SLIDE: expected COMMAND=KEY"},
        {"default", {"NEXT_SLIDE=PgDn"}, "unknown key PgDn for NEXT_SLIDE"},
        {"default", {"NEXT_SLIDE=Ctrl+Ctrl+P"}, "unknown key Ctrl+Ctrl+P for NEXT_SLIDE"},
        {"default", {"NEXT_SLIDE=Ctrl++"}, "unknown key Ctrl++ for NEXT_SLIDE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.overrides));
        const auto made = makeKeyMap(c.profile, c.overrides);
        std::string outcome;
        if (const auto* keys = std::get_if<KeyMap>(&made)) {
            const KeyMap profileKeys = std::get<KeyMap>(makeKeyMap(c.profile, {}));
            for (const protocol::Command command : protocol::commands) {
                const std::string key = keys->chordFor(command).name();
                if (key == profileKeys.chordFor(command).name()) continue;
                outcome += (outcome.empty() ? "" : ", ") + std::string(protocol::commandName(command)) + " " + key;
            }
        } else {
            outcome = std::get<std::string>(made).substr(0, c.outcome.size());
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::keys
