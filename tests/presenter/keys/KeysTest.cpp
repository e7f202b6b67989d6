#include <gtest/gtest.h>
#include <libevdev/libevdev.h>

#include <X11/Xlib.h>

#include <cctype>

#include "presenter/keys/Keys.h"

namespace orbilatch::presenter::keys {
namespace {

// The letters and digits are numbered by rule; the kernel's and X's own
// names for each code say whether the rule holds.
TEST(KeysTest, LettersAndDigitsCarryTheirOwnCodes) {
    int checked = 0;
    for (const Key& key : allKeys()) {
        if (key.name.size() != 1) continue;
        const std::string name(key.name);
        EXPECT_STREQ(libevdev_event_code_get_name(EV_KEY, key.evdevCode), ("KEY_" + name).c_str());
        const std::string lower(1, static_cast<char>(std::tolower(name[0])));
        EXPECT_EQ(key.keysym, XStringToKeysym(lower.c_str())) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 36);
}

}  // namespace
}  // namespace orbilatch::presenter::keys
