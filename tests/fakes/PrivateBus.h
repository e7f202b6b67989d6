#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/SdPointers.h"

namespace orbilatch::testing {

// A dbus-daemon of the test's own, with a session bus's policy: names have
// owners, and anyone may call anyone.
class PrivateBus {
public:
    PrivateBus() : printed_(::popen("exec dbus-daemon --session --nofork --print-address=1 --print-pid=1 2>/dev/null", "r")) {
        char address[512] = "";
        char pid[32] = "";
        EXPECT_TRUE(printed_ && std::fgets(address, sizeof address, printed_) && std::fgets(pid, sizeof pid, printed_))
            << "dbus-daemon did not start";
        address_.assign(address, std::strcspn(address, "\n"));
        pid_ = std::atoi(pid);
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

    // Every connection to it ends.
    void stop() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (printed_) ::pclose(printed_);
        pid_ = 0;
        printed_ = nullptr;
    }

    // A new client connection, served by the loop.
    SdBusPtr connect(sd_event* loop) const {
        sd_bus* bus = nullptr;
        EXPECT_GE(sd_bus_new(&bus), 0);
        SdBusPtr owned(bus);
        EXPECT_GE(sd_bus_set_address(bus, address_.c_str()), 0);
        EXPECT_GE(sd_bus_set_bus_client(bus, 1), 0);
        EXPECT_GE(sd_bus_start(bus), 0);
        EXPECT_GE(sd_bus_attach_event(bus, loop, 0), 0);
        return owned;
    }

private:
    FILE* printed_;
    std::string address_;
    pid_t pid_ = 0;
};

}  // namespace orbilatch::testing
