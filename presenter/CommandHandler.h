#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "presenter/AgentEvent.h"
#include "presenter/ProgramChoice.h"
#include "presenter/Route.h"
#include "system/MainQueue.h"

namespace orbilatch::presenter {

// What became of one command, for the status line.
struct CommandOutcome {
    std::string command;
    std::string where;                   // the program and its show, such as "pdfpc slide 3/12"; empty for keys
    std::string action;                  // what carried it out; empty when nothing did
    std::optional<Failure> failure;      // nothing when it was done
    std::chrono::microseconds took{};    // from the command's arrival until it was answered
};

// Carries commands out one at a time, in the order they arrive, each along
// the route chosen when its turn comes, and answers each with exactly one
// acknowledgement line for the agent: when the route reports, or at the
// deadline, whichever is first.
class CommandHandler {
public:
    // The longest a program may take to report a change. The slowest report
    // measured was 0.8 s, an Okular page on a loaded machine.
    static constexpr std::chrono::milliseconds deadline{2000};

    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    struct Handled {
        std::string acknowledgement;  // one JSON line, without its line feed
        CommandOutcome outcome;
    };
    using Answer = std::function<void(Handled handled)>;

    CommandHandler(system::MainQueue& queue, RouteChoice& routes, Answer answer, Clock clock = std::chrono::steady_clock::now)
        : queue_(queue), routes_(routes), answer_(std::move(answer)), clock_(std::move(clock)) {}

    // Starts the command, or queues it behind the one under way.
    void handle(CommandReceived command, std::chrono::steady_clock::time_point arrived);

private:
    struct Waiting {
        CommandReceived command;
        std::chrono::steady_clock::time_point arrived;
    };

    void startNext();
    void finish(std::uint64_t serial, Carried carried);

    system::MainQueue& queue_;
    RouteChoice& routes_;
    Answer answer_;
    Clock clock_;
    std::deque<Waiting> waiting_;         // the one under way first
    std::optional<std::uint64_t> underWay_;  // its serial, until it is answered
    std::uint64_t serial_ = 0;
    Route* route_ = nullptr;
};

}  // namespace orbilatch::presenter
