#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <vector>

#include "system/SdPointers.h"

namespace orbilatch::testing {

// Two sd-bus connections talking straight to each other over a socket pair,
// no bus daemon between them: `ours` is the agent's side, `theirs` stands in
// for bluetoothd and keeps every method call it receives for the test to answer.
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

    // Lets both sides do whatever they can without waiting.
    void pump() {
        while (sd_bus_process(ours_.get(), nullptr) > 0 || sd_bus_process(theirs_.get(), nullptr) > 0) {
        }
    }

    // The calls received so far, as "Member(first argument)", each once.
    std::vector<std::string> takeCalls() {
        pump();
        std::vector<std::string> names;
        for (const auto& call : calls_) names.push_back(describe(call.get()));
        taken_.insert(taken_.end(), std::make_move_iterator(calls_.begin()), std::make_move_iterator(calls_.end()));
        calls_.clear();
        return names;
    }

    // Answers the oldest call taken and not yet answered.
    void answer(const char* errorName = nullptr, const char* message = nullptr) {
        ASSERT_FALSE(taken_.empty());
        sd_bus_message* call = taken_.front().get();
        if (errorName)
            sd_bus_reply_method_errorf(call, errorName, "%s", message ? message : "");
        else
            sd_bus_reply_method_return(call, nullptr);
        taken_.erase(taken_.begin());
        pump();
    }

private:
    static SdBusPtr open(int fd, bool server) {
        sd_bus* bus = nullptr;
        EXPECT_GE(sd_bus_new(&bus), 0);
        SdBusPtr owned(bus);
        EXPECT_GE(sd_bus_set_fd(bus, fd, fd), 0);
        if (server) {
            sd_id128_t id;
            EXPECT_GE(sd_id128_randomize(&id), 0);
            EXPECT_GE(sd_bus_set_server(bus, 1, id), 0);
        }
        EXPECT_GE(sd_bus_start(bus), 0);
        return owned;
    }

    static int keepCall(sd_bus_message* message, void* userdata, sd_bus_error*) {
        if (sd_bus_message_is_method_call(message, nullptr, nullptr) <= 0) return 0;
        static_cast<BusPair*>(userdata)->calls_.emplace_back(sd_bus_message_ref(message));
        return 1;
    }

    static std::string describe(sd_bus_message* call) {
        std::string text = std::string(sd_bus_message_get_member(call)) + "(";
        const char* path = nullptr;
        if (sd_bus_message_read(call, "o", &path) > 0) text += path;
        sd_bus_message_rewind(call, 1);
        return text + ")";
    }

    SdBusPtr ours_;
    SdBusPtr theirs_;
    SdBusSlotPtr filter_;
    std::vector<SdBusMessagePtr> calls_;
    std::vector<SdBusMessagePtr> taken_;
};

}  // namespace orbilatch::testing
