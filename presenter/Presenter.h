#pragma once

#include <csignal>
#include <chrono>
#include <string>

#include "presenter/AgentProcess.h"
#include "presenter/CommandHandler.h"
#include "presenter/Display.h"
#include "presenter/Status.h"
#include "presenter/StatusObserver.h"
#include "system/EventLoop.h"
#include "system/LineSplitter.h"
#include "system/SdPointers.h"

namespace orbilatch::presenter {

// The running presenter: reads the agent's events and diagnostics, carries
// its commands out, keeps the status shown and stops the agent on SIGINT or
// SIGTERM. SIGINT, SIGTERM and SIGCHLD must be blocked in every thread.
class Presenter {
public:
    // How long a stopping agent may take before it is killed.
    static constexpr std::chrono::seconds stopTimeout{2};

    // The observer, where there is one, sees each status the display shows.
    Presenter(system::EventLoop& loop, AgentProcess& agent, RouteChoice& routes, Display& display,
              StatusObserver* observer = nullptr);

    // Runs until the agent has exited; returns this program's exit status.
    int run();

private:
    struct Stream {
        system::LineSplitter lines;
        system::SdEventSourcePtr source;
    };

    static int onReadable(sd_event_source* source, int fd, uint32_t revents, void* self);
    static int onAgentExit(sd_event_source* source, const siginfo_t* info, void* self);

    void watch(Stream& stream, int fd);
    void drain(Stream& stream, int fd);
    void deliver(Stream& stream, const std::string& line, std::chrono::steady_clock::time_point arrived);
    void handleEvent(const std::string& line, std::chrono::steady_clock::time_point arrived);
    void answer(CommandHandler::Handled handled);
    void show();
    void requestStop();
    int exitStatus(const siginfo_t& info);

    system::EventLoop& loop_;
    AgentProcess& agent_;
    Display& display_;
    StatusObserver* observer_;
    CommandHandler commands_;
    Status status_;
    Stream events_;
    Stream diagnostics_;
    system::SdEventSourcePtr exitSource_;
    bool stopRequested_ = false;
    bool killed_ = false;
    bool exited_ = false;
};

}  // namespace orbilatch::presenter
