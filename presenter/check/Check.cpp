#include "presenter/check/Check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "presenter/check/Bluetoothd.h"
#include "presenter/check/PresentationPrograms.h"
#include "presenter/keys/XtestKeyboard.h"
#include "system/FileDescriptor.h"
#include "system/WriteAll.h"

namespace orbilatch::presenter::check {
namespace {

// Opening for writing is what the keyboard does, and tells what access() would
// not: ACLs, a device without its module.
int uinputError() {
    const system::FileDescriptor uinput(::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    return uinput ? 0 : errno;
}

// The package's copy, or one put in by hand from the source; the first one
// udev would read.
std::optional<std::string> installedUdevRule() {
    for (const char* folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        const std::string path = std::string(folder) + "/70-orbilatch-uinput.rules";
        if (std::filesystem::is_regular_file(path)) return path;
    }
    return std::nullopt;
}

Facts gatherFacts() {
    Facts facts{askBluetoothd(), uinputError(), installedUdevRule(), std::nullopt, {}, askPrograms()};
    auto xtest = keys::XtestKeyboard::open();
    if (auto* reason = std::get_if<std::string>(&xtest)) {
        facts.xtestError = *reason;
    } else {
        facts.xtestDescription = std::get<0>(xtest)->description();
    }
    return facts;
}

}  // namespace

int checkSetUp(const Asked& asked) {
    const Verdict verdict = judge(gatherFacts(), asked);
    std::string text;
    for (const Line& line : verdict.lines) text += format(line) + "\n";
    system::writeAll(STDOUT_FILENO, text);
    return verdict.canPresent ? 0 : 1;
}

}  // namespace orbilatch::presenter::check
