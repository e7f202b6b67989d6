#include <gtest/gtest.h>

#include <cerrno>

#include "presenter/okular/Okular.h"
#include "presenter/check/Verdict.h"

namespace orbilatch::presenter::check {
namespace {

using keys::KeyboardKind;

TEST(VerdictTest, ItCanPresentWithBluetoothdAnAdapterAndOneKeyboardOfTheKindAskedFor) {
    const Adapter ready{"hci0", true, true, Version{5, 66}};
    const BluetoothdFacts running{{}, true, ready};
    const auto with = [](Adapter adapter) { return BluetoothdFacts{{}, true, adapter}; };
    const std::string rule = "/usr/lib/udev/rules.d/70-orbilatch-uinput.rules";
    const std::string noDisplay = "DISPLAY is not set";
    const struct {
        std::string_view what;
        Facts facts;
        KeyboardKind keyboard;
        std::string marks;  // bluetoothd, adapter, uinput, udev rule, XTEST, the program line; then the verdict
    } cases[] = {
        {"a desktop", {running, 0, rule, std::nullopt, "XTEST on the X display :0", {}}, KeyboardKind::automatic,
         "ok ok ok ok ok ok: can present"},
        {"the VM: no display", {running, 0, rule, noDisplay, {}, {}}, KeyboardKind::automatic,
         "ok ok ok ok warn ok: can present"},
        {"no system bus, no uinput, no display", {{"No such file or directory", false, {}}, ENOENT, {}, noDisplay, {}, {}},
         KeyboardKind::automatic, "FAIL FAIL FAIL FAIL FAIL ok: cannot"},
        {"bluetoothd stopped, XTEST stands in for uinput", {{{}, false, {}}, EACCES, {}, std::nullopt, "XTEST", {}},
         KeyboardKind::automatic, "FAIL FAIL warn warn ok ok: cannot"},
        {"XTEST stands in", {running, EACCES, rule, std::nullopt, "XTEST", {}}, KeyboardKind::automatic,
         "ok ok warn ok ok ok: can present"},
        {"uinput asked for, XTEST there", {running, EACCES, rule, std::nullopt, "XTEST", {}}, KeyboardKind::uinput,
         "ok ok FAIL ok ok ok: cannot"},
        {"XTEST asked for, uinput there", {running, 0, {}, noDisplay, {}, {}}, KeyboardKind::xtest,
         "ok ok ok warn FAIL ok: cannot"},
        {"no adapter, so no version", {{{}, true, {}}, 0, rule, noDisplay, {}, {}}, KeyboardKind::automatic,
         "warn FAIL ok ok warn ok: cannot"},
        {"an adapter without BlueZ's device ID", {with({"hci0", true, true, {}}), 0, rule, noDisplay, {}, {}},
         KeyboardKind::automatic, "warn ok ok ok warn ok: can present"},
        {"BlueZ 5.55", {with({"hci0", true, true, Version{5, 55}}), 0, rule, noDisplay, {}, {}}, KeyboardKind::automatic,
         "FAIL ok ok ok warn ok: cannot"},
        {"powered off", {with({"hci0", false, true, Version{5, 82}}), 0, rule, noDisplay, {}, {}},
         KeyboardKind::automatic, "ok FAIL ok ok warn ok: cannot"},
        {"no LE peripheral role", {with({"hci1", true, false, Version{5, 82}}), 0, rule, noDisplay, {}, {}},
         KeyboardKind::automatic, "ok FAIL ok ok warn ok: cannot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Verdict verdict = judge(c.facts, {c.keyboard, "NEXT_SLIDE PageDown", ""});
        std::string marks;
        for (const Line& line : verdict.lines) {
            const std::string text = format(line);
            marks += text.substr(0, text.find(' ')) + " ";
            EXPECT_EQ(line.fix.empty(), line.mark == Line::Mark::ok) << "a fix exactly where a check failed: " << text;
        }
        marks.back() = ':';
        EXPECT_EQ(marks + (verdict.canPresent ? " can present" : " cannot"), c.marks);
    }
}

TEST(VerdictTest, TheProgramsLineSaysHowEachProgramFoundIsDrivenOrOnlyTheOneAppAskedFor) {
    Facts facts;
    facts.programs = {"", {"pdfpc", "Okular"}, false};
    const auto programsLine = [&facts](const std::string& app) {
        return format(judge(facts, {KeyboardKind::automatic, "NEXT_SLIDE PageDown", app}).lines.back());
    };
    EXPECT_EQ(programsLine(""),
              "ok    presentation programs: pdfpc over the session bus, Okular over the session bus; every other "
              "program gets keys in the focused window (NEXT_SLIDE PageDown)");
    EXPECT_EQ(programsLine("okular"), "ok    presentation programs: only Okular over the session bus (--app okular)");
    EXPECT_EQ(programsLine("keys"), "ok    presentation programs: none driven directly (--app keys); every program "
                                    "gets keys in the focused window (NEXT_SLIDE PageDown)");
    EXPECT_EQ(programsLine("impress"),
              "warn  presentation programs: impress not found (--app impress); every command fails until it runs. "
              "Fix: start impress with its remote control on before the first command, or leave --app out");
    facts.programs.impressRemoteListens = true;
    EXPECT_EQ(programsLine("impress"),
              "ok    presentation programs: only LibreOffice Impress through its remote control (--app impress)");
}

TEST(VerdictTest, OkularIsKnownByItsProcessesNamesOnTheSessionBus) {
    const auto okular = okular::names();
    EXPECT_EQ(okular.nameSpace, "org.kde");
    for (const char* name : {"org.kde.okular-", "org.kde.okularx-12", "org.kde.okular-12a", "org.kde.okular-0"}) {
        EXPECT_FALSE(okular.wanted(name)) << name;
    }
    EXPECT_TRUE(okular.wanted("org.kde.okular-345"));
}

}  // namespace
}  // namespace orbilatch::presenter::check
