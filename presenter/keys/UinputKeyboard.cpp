#include "presenter/keys/UinputKeyboard.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cstring>
#include <vector>

#include "presenter/Failures.h"

namespace orbilatch::presenter::keys {
namespace {

constexpr const char* deviceName = "OrbiLatch presenter keyboard";

struct FreeEvdev {
    void operator()(libevdev* device) const { libevdev_free(device); }
};

// One key event and the report that ends its frame, so that every press and
// every release reaches readers as a frame of its own.
bool send(libevdev_uinput* device, unsigned code, int value) {
    return libevdev_uinput_write_event(device, EV_KEY, code, value) == 0 &&
           libevdev_uinput_write_event(device, EV_SYN, SYN_REPORT, 0) == 0;
}

}  // namespace

void UinputKeyboard::Destroy::operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }

KeyboardOpening UinputKeyboard::open() {
    std::unique_ptr<libevdev, FreeEvdev> prototype(libevdev_new());
    libevdev_set_name(prototype.get(), deviceName);
    libevdev_set_id_bustype(prototype.get(), BUS_VIRTUAL);
    libevdev_enable_event_type(prototype.get(), EV_KEY);
    // Every key a chord may use, so the desktop takes it for a whole keyboard.
    for (const Key& key : allKeys()) libevdev_enable_event_code(prototype.get(), EV_KEY, key.evdevCode, nullptr);

    libevdev_uinput* device = nullptr;
    const int result = libevdev_uinput_create_from_device(prototype.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
    if (result < 0) return std::string("/dev/uinput: ") + std::strerror(-result);
    return std::unique_ptr<Keyboard>(new UinputKeyboard(std::unique_ptr<libevdev_uinput, Destroy>(device)));
}

std::optional<Failure> UinputKeyboard::press(const KeyChord& chord) {
    std::vector<unsigned> codes;
    for (const Key& modifier : chord.modifiers) codes.push_back(modifier.evdevCode);
    codes.push_back(chord.key.evdevCode);

    bool sent = true;
    for (unsigned code : codes) sent = sent && send(device_.get(), code, 1);
    // Release whatever was pressed, even after a failure, so no key stays down.
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) sent = send(device_.get(), *code, 0) && sent;
    if (sent) return std::nullopt;
    return Failure{code::keyInjectionFailed, "writing to /dev/uinput failed: " + std::string(std::strerror(errno))};
}

std::string UinputKeyboard::description() const {
    const char* node = libevdev_uinput_get_devnode(device_.get());
    return std::string("uinput, as the keyboard \"") + deviceName + "\"" + (node ? std::string(" at ") + node : "");
}

}  // namespace orbilatch::presenter::keys
