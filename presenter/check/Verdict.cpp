#include "presenter/check/Verdict.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "presenter/ProgramChoice.h"

namespace orbilatch::presenter::check {
namespace {

using Mark = Line::Mark;
using keys::KeyboardKind;

constexpr Version oldestBluez{5, 66};
constexpr const char* uinputNode = "/dev/uinput";

std::string versionText(Version version) { return std::to_string(version.major) + "." + std::to_string(version.minor); }

Line bluetoothdLine(const BluetoothdFacts& bluetoothd) {
    if (!bluetoothd.unreachable.empty()) {
        return {Mark::fail, "bluetoothd: cannot ask the system bus (" + bluetoothd.unreachable + ")",
                "sudo systemctl start dbus bluetooth"};
    }
    if (!bluetoothd.running) return {Mark::fail, "bluetoothd: not running", "sudo systemctl enable --now bluetooth"};
    const auto& version = bluetoothd.adapter ? bluetoothd.adapter->bluez : std::nullopt;
    if (!version) {
        return {Mark::warn, "bluetoothd: running; its adapter tells no BlueZ version",
                "/usr/libexec/bluetooth/bluetoothd --version must say " + versionText(oldestBluez) + " or newer"};
    }
    if (*version < oldestBluez) {
        return {Mark::fail, "bluetoothd: BlueZ " + versionText(*version) + ", older than " + versionText(oldestBluez),
                "upgrade bluez (Debian 12 has " + versionText(oldestBluez) + ")"};
    }
    return {Mark::ok, "bluetoothd: running, BlueZ " + versionText(*version), {}};
}

Line adapterLine(const BluetoothdFacts& bluetoothd) {
    if (!bluetoothd.unreachable.empty() || !bluetoothd.running) {
        return {Mark::fail, "Bluetooth adapter: unknown while bluetoothd cannot be asked", "mend bluetoothd first"};
    }
    if (!bluetoothd.adapter) {
        return {Mark::fail, "Bluetooth adapter: none", "plug one in, or unblock it: rfkill unblock bluetooth"};
    }
    const Adapter& adapter = *bluetoothd.adapter;
    const std::string name = "Bluetooth adapter " + adapter.name + ": ";
    if (!adapter.powered) return {Mark::fail, name + "powered off", "bluetoothctl power on"};
    if (!adapter.canServeTheWatch) {
        return {Mark::fail, name + "cannot be a Bluetooth LE peripheral", "use an adapter with Bluetooth LE (4.0 or newer)"};
    }
    return {Mark::ok, name + "powered, can advertise to the watch and serve it", {}};
}

Line uinputLine(const Facts& facts, Mark failing) {
    if (facts.uinputError == 0) return {Mark::ok, std::string(uinputNode) + ": writable", {}};
    const std::string text = std::string(uinputNode) + ": " + std::strerror(facts.uinputError);
    if (facts.uinputError != EACCES && facts.uinputError != EPERM) return {failing, text, "sudo modprobe uinput"};
    return {failing, text, facts.udevRule ? "log out and in again at the screen, where the udev rule gives access"
                                          : "install the udev rule (below)"};
}

Line udevRuleLine(const Facts& facts, Mark failing) {
    if (facts.udevRule) return {Mark::ok, "udev rule: " + *facts.udevRule, {}};
    return {facts.uinputError == 0 ? Mark::warn : failing, "udev rule for /dev/uinput: not installed",
            "install the package, or from the source: sudo cp data/70-orbilatch-uinput.rules /etc/udev/rules.d/"};
}

Line xtestLine(const Facts& facts, Mark failing) {
    if (!facts.xtestError) return {Mark::ok, facts.xtestDescription + " (X11 windows only)", {}};
    return {failing, "XTEST: " + *facts.xtestError, "run it in the X11 session at the screen"};
}

// A program found, under the name --app gives it.
struct Driven {
    std::string app;
    std::string way;
};

std::vector<Driven> drivenPrograms(const ProgramFacts& programs) {
    std::vector<Driven> driven;
    for (const std::string& program : programs.onSessionBus) {
        std::string app = program;
        std::ranges::transform(app, app.begin(), [](unsigned char c) { return std::tolower(c); });
        driven.push_back({app, program + " over the session bus"});
    }
    if (programs.impressRemoteListens) driven.push_back({"impress", "LibreOffice Impress through its remote control"});
    return driven;
}

// How the commands reach the programs: by their own interfaces, else as keys;
// --app narrows that to one program, or to keys alone.
Line programsLine(const ProgramFacts& programs, const Asked& asked) {
    std::string text = "presentation programs: ";
    if (!programs.unreachable.empty()) text += "the session bus cannot be asked (" + programs.unreachable + "); ";
    const std::string forced = " (--app " + asked.app + ")";
    const std::string keys = " in the focused window (" + asked.keys + ")";
    if (asked.app == ProgramChoice::keysName) {
        return {Mark::ok, text + "none driven directly" + forced + "; every program gets keys" + keys, {}};
    }

    const std::vector<Driven> driven = drivenPrograms(programs);
    if (!asked.app.empty()) {
        const auto found = std::ranges::find(driven, asked.app, &Driven::app);
        if (found != driven.end()) return {Mark::ok, text + "only " + found->way + forced, {}};
        // Worth a warning, not a failure: the program may well be started later.
        return {Mark::warn, text + asked.app + " not found" + forced + "; every command fails until it runs",
                "start " + asked.app + (asked.app == "impress" ? " with its remote control on" : "") +
                    " before the first command, or leave --app out"};
    }
    std::string ways;
    for (const Driven& program : driven) ways += (ways.empty() ? "" : ", ") + program.way;
    text += (ways.empty() ? "none driven directly; every program" : ways + "; every other program");
    text += " gets keys" + keys;
    return {Mark::ok, text, {}};
}

}  // namespace

Verdict judge(const Facts& facts, const Asked& asked) {
    const KeyboardKind keyboard = asked.keyboard;
    const bool uinputWorks = facts.uinputError == 0, xtestWorks = !facts.xtestError;
    const bool keysWork = keyboard == KeyboardKind::uinput ? uinputWorks
                          : keyboard == KeyboardKind::xtest ? xtestWorks
                                                            : uinputWorks || xtestWorks;
    // A way of pressing keys that fails matters only where no other can stand in.
    const Mark uinputFailing = keysWork || keyboard == KeyboardKind::xtest ? Mark::warn : Mark::fail;
    const Mark xtestFailing = keysWork || keyboard == KeyboardKind::uinput ? Mark::warn : Mark::fail;

    Verdict verdict;
    verdict.lines = {bluetoothdLine(facts.bluetoothd), adapterLine(facts.bluetoothd), uinputLine(facts, uinputFailing),
                     udevRuleLine(facts, uinputFailing), xtestLine(facts, xtestFailing)};
    const bool bluetoothWorks = verdict.lines[0].mark != Mark::fail && verdict.lines[1].mark == Mark::ok;
    verdict.lines.push_back(programsLine(facts.programs, asked));
    verdict.canPresent = bluetoothWorks && keysWork;
    return verdict;
}

std::string format(const Line& line) {
    const char* mark = line.mark == Mark::ok ? "ok    " : line.mark == Mark::warn ? "warn  " : "FAIL  ";
    return mark + line.text + (line.fix.empty() ? "" : ". Fix: " + line.fix);
}

}  // namespace orbilatch::presenter::check
