#include "presenter/KeyboardChoice.h"

#include "presenter/UinputKeyboard.h"
#include "presenter/XtestKeyboard.h"

namespace orbilatch::presenter {
namespace {

constexpr const char* uinputFix =
    "To press keys through uinput, the user at the seat needs access to /dev/uinput. orbilatch's package\n"
    "installs the udev rule for it, /usr/lib/udev/rules.d/70-orbilatch-uinput.rules; from the source:\n"
    "    sudo cp data/70-orbilatch-uinput.rules /etc/udev/rules.d/\n"
    "    sudo modprobe uinput\n"
    "    sudo udevadm control --reload && sudo udevadm trigger --name-match=uinput\n"
    "On an X11 desktop, --keyboard xtest presses keys through the X server instead.";

template <typename Opened>
std::variant<std::unique_ptr<Keyboard>, std::string> widen(Opened opened) {
    if (auto* keyboard = std::get_if<0>(&opened)) return std::unique_ptr<Keyboard>(std::move(*keyboard));
    return std::get<1>(std::move(opened));
}

}  // namespace

std::variant<OpenedKeyboard, std::string> openKeyboard(KeyboardKind kind) {
    if (kind == KeyboardKind::Xtest) {
        auto xtest = widen(XtestKeyboard::open());
        if (auto* reason = std::get_if<std::string>(&xtest)) return "cannot press keys through XTEST: " + *reason;
        return OpenedKeyboard{std::get<0>(std::move(xtest)), {}};
    }
    auto uinput = widen(UinputKeyboard::open());
    auto* uinputReason = std::get_if<std::string>(&uinput);
    if (!uinputReason) return OpenedKeyboard{std::get<0>(std::move(uinput)), {}};
    if (kind == KeyboardKind::Uinput) return "cannot press keys through uinput: " + *uinputReason + "\n" + uinputFix;

    auto xtest = widen(XtestKeyboard::open());
    if (auto* xtestReason = std::get_if<std::string>(&xtest)) {
        return "cannot press keys.\n    uinput: " + *uinputReason + "\n    XTEST: " + *xtestReason + "\n" + uinputFix;
    }
    return OpenedKeyboard{std::get<0>(std::move(xtest)), *uinputReason};
}

}  // namespace orbilatch::presenter
