#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orbilatch::presenter::check {

struct Version {
    unsigned major = 0;
    unsigned minor = 0;

    auto operator<=>(const Version&) const = default;
};

// The adapter the agent would take: the one with the lowest path.
struct Adapter {
    std::string name;  // such as "hci0"
    bool powered = false;
    // The peripheral role, GATT services and LE advertising: what the watch needs.
    bool canServeTheWatch = false;
    // BlueZ's own version, which bluetoothd puts into the adapter's device ID.
    std::optional<Version> bluez;
};

// What bluetoothd tells any user over the system bus.
struct BluetoothdFacts {
    std::string unreachable;  // why the system bus could not be asked; empty when it answered
    bool running = false;
    std::optional<Adapter> adapter;
};

// The presentation programs that run and offer a way in.
struct ProgramFacts {
    std::string unreachable;  // why the session bus could not be asked; empty when it answered
    std::vector<std::string> onSessionBus;  // such as "pdfpc", "Okular"
    bool impressRemoteListens = false;      // Impress's remote control server
};

// Everything the verdict is made of.
struct Facts {
    BluetoothdFacts bluetoothd;
    int uinputError = 0;                 // errno of opening /dev/uinput for writing; 0 when it opened
    std::optional<std::string> udevRule;  // where the rule is installed
    std::optional<std::string> xtestError;  // nothing when XTEST works
    std::string xtestDescription;           // where it does, such as "XTEST on the X display :0"
    ProgramFacts programs;
};

}  // namespace orbilatch::presenter::check
