#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <deque>
#include <string>
#include <vector>

#include "system/SdPointers.h"

namespace orbilatch::testing {

// Two sd-bus connections talking straight to each other over a socket pair,
// no bus daemon between them: `ours` is the agent's side; the other stands in
// for bluetoothd and keeps each method call it receives for the test to answer.
class BusPair {
public:
    BusPair() {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends), 0);
        ours_ = open(ends[0], false);
        theirs_ = open(ends[1], true);
        sd_bus_slot* slot = nullptr;
        EXPECT_GE(sd_bus_add_filter(theirs_.get(), &slot, keepCall, this), 0);
        filter_.reset(slot);
        while (sd_bus_is_ready(ours_.get()) <= 0 || sd_bus_is_ready(theirs_.get()) <= 0) pump();
    }

    sd_bus* ours() const { return ours_.get(); }

    void pump() {
        while (sd_bus_process(ours_.get(), nullptr) > 0 || sd_bus_process(theirs_.get(), nullptr) > 0) {
        }
    }

    // The calls received since the last look, as "Member(object path)".
    std::vector<std::string> newCalls() {
        pump();
        return std::exchange(seen_, {});
    }

    // Answers the oldest call not yet answered, with success or the error.
    void answer(const char* errorName = nullptr, const char* message = "") {
        ASSERT_FALSE(unanswered_.empty());
        sd_bus_message* call = unanswered_.front().get();
        if (errorName) sd_bus_reply_method_errorf(call, errorName, "%s", message);
        else sd_bus_reply_method_return(call, nullptr);
        unanswered_.pop_front();
        pump();
    }

private:
    static SdBusPtr open(int fd, bool server) {
        sd_bus* bus = nullptr;
        sd_id128_t id{};
        EXPECT_GE(sd_bus_new(&bus), 0);
        SdBusPtr owned(bus);
        EXPECT_GE(sd_bus_set_fd(bus, fd, fd), 0);
        if (server) {
            EXPECT_GE(sd_id128_randomize(&id), 0);
            EXPECT_GE(sd_bus_set_server(bus, 1, id), 0);
        }
        EXPECT_GE(sd_bus_start(bus), 0);
        return owned;
    }

    static int keepCall(sd_bus_message* call, void* userdata, sd_bus_error*) {
        if (sd_bus_message_is_method_call(call, nullptr, nullptr) <= 0) return 0;
        auto& pair = *static_cast<BusPair*>(userdata);
        const char* path = nullptr;
        sd_bus_message_read(call, "o", &path);
        pair.seen_.push_back(std::string(sd_bus_message_get_member(call)) + "(" + (path ? path : "") + ")");
        pair.unanswered_.emplace_back(sd_bus_message_ref(call));
        return 1;
    }

    SdBusPtr ours_;
    SdBusPtr theirs_;
    SdBusSlotPtr filter_;
    std::vector<std::string> seen_;
    std::deque<SdBusMessagePtr> unanswered_;
};

}  // namespace orbilatch::testing
