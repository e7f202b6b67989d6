#include "presenter/keys/KeyboardChoice.h"

#include "presenter/keys/UinputKeyboard.h"
#include "presenter/keys/XtestKeyboard.h"

namespace orbilatch::presenter::keys {
namespace {

constexpr const char* uinputAdvice =
    "To press keys through uinput, the user at the seat needs access to /dev/uinput. orbilatch's package\n"
    "installs the udev rule for it, /usr/lib/udev/rules.d/70-orbilatch-uinput.rules; from the source:\n"
    "    sudo cp data/70-orbilatch-uinput.rules /etc/udev/rules.d/\n"
    "    sudo modprobe uinput\n"
    "    sudo udevadm control --reload && sudo udevadm trigger --name-match=uinput";

}  // namespace

KeyboardOpeners systemKeyboards() { return {UinputKeyboard::open, XtestKeyboard::open}; }

std::variant<OpenedKeyboard, std::string> openKeyboard(KeyboardKind kind, const KeyboardOpeners& openers) {
    if (kind == KeyboardKind::xtest) {
        auto xtest = openers.xtest();
        if (auto* reason = std::get_if<std::string>(&xtest)) return "cannot press keys through XTEST: " + *reason;
        return OpenedKeyboard{std::get<0>(std::move(xtest)), {}, true};
    }
    auto uinput = openers.uinput();
    auto* uinputReason = std::get_if<std::string>(&uinput);
    if (!uinputReason) return OpenedKeyboard{std::get<0>(std::move(uinput)), {}};
    if (kind == KeyboardKind::uinput) {
        return "cannot press keys through uinput: " + *uinputReason + "\n" + uinputAdvice +
               "\nOn an X11 desktop, --keyboard xtest presses keys through the X server instead.";
    }

    auto xtest = openers.xtest();
    if (auto* xtestReason = std::get_if<std::string>(&xtest)) {
        return "cannot press keys.\n    uinput: " + *uinputReason + "\n    XTEST: " + *xtestReason + "\n" +
               uinputAdvice;
    }
    return OpenedKeyboard{std::get<0>(std::move(xtest)),
                          *uinputReason + "; XTEST stands in, for X11 windows only.\n" + uinputAdvice, true};
}

}  // namespace orbilatch::presenter::keys
