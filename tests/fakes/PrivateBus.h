#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "system/SdPointers.h"

extern char** environ;

namespace orbilatch::testing {

// A dbus-daemon of the test's own, with the permissive policy of a session
// bus, so that names have owners and strangers can call anyone.
class PrivateBus {
public:
    PrivateBus() {
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>("--session"),
                        const_cast<char*>("--print-address"), const_cast<char*>("--nofork"), nullptr};
        EXPECT_EQ(posix_spawnp(&pid_, argv[0], &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        FILE* printed = ::fdopen(out[0], "r");
        char line[512] = "";
        EXPECT_NE(std::fgets(line, sizeof line, printed), nullptr) << "dbus-daemon printed no address";
        std::fclose(printed);
        address_ = line;
        if (!address_.empty()) address_.pop_back();
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

    // Every connection to it ends.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
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
    pid_t pid_ = 0;
    std::string address_;
};

}  // namespace orbilatch::testing
