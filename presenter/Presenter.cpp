#include "presenter/Presenter.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>

#include "presenter/AgentMessage.h"
#include "system/Check.h"
#include "system/ReadLines.h"

namespace orbilatch::presenter {

Presenter::Presenter(system::EventLoop& loop, AgentProcess& agent, RouteChoice& routes, Display& display,
                     StatusObserver* observer)
    : loop_(loop),
      agent_(agent),
      display_(display),
      observer_(observer),
      commands_(loop, routes, [this](CommandHandler::Handled handled) { answer(std::move(handled)); }) {
    watch(events_, agent_.stdoutFd());
    watch(diagnostics_, agent_.stderrFd());
    sd_event_source* source = nullptr;
    system::check(sd_event_add_child(loop_.handle(), &source, agent_.pid(), WEXITED, &Presenter::onAgentExit, this),
          "sd_event_add_child");
    exitSource_.reset(source);
    loop_.onTerminationSignals([this] { requestStop(); });
}

int Presenter::run() {
    show();
    return loop_.run();
}

void Presenter::watch(Stream& stream, int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    sd_event_source* source = nullptr;
    system::check(sd_event_add_io(loop_.handle(), &source, fd, EPOLLIN, &Presenter::onReadable, this), "sd_event_add_io");
    stream.source.reset(source);
}

int Presenter::onReadable(sd_event_source* source, int fd, uint32_t, void* self) {
    auto* presenter = static_cast<Presenter*>(self);
    presenter->drain(source == presenter->events_.source.get() ? presenter->events_ : presenter->diagnostics_, fd);
    return 0;
}

// Reads all there is now; at the end of the stream stops watching it.
void Presenter::drain(Stream& stream, int fd) {
    const bool open = system::readLines(fd, stream.lines, [&](std::vector<std::string>& lines) {
        const auto arrived = std::chrono::steady_clock::now();
        for (const auto& line : lines) deliver(stream, line, arrived);
    });
    if (!open) sd_event_source_set_enabled(stream.source.get(), SD_EVENT_OFF);
}

void Presenter::deliver(Stream& stream, const std::string& line, std::chrono::steady_clock::time_point arrived) {
    if (&stream == &events_) {
        handleEvent(line, arrived);
    } else {
        display_.diagnostic("orbilatch-agent: " + line);
    }
}

// A command is carried out first: everything else can wait a moment.
void Presenter::handleEvent(const std::string& line, std::chrono::steady_clock::time_point arrived) {
    AgentEvent event = parseAgentEvent(line);
    if (auto* command = std::get_if<CommandReceived>(&event)) commands_.handle(std::move(*command), arrived);
    display_.event(line);
    if (status_.apply(event)) show();
}

void Presenter::show() {
    display_.show(status_);
    if (observer_) observer_->statusChanged(status_);
}

void Presenter::answer(CommandHandler::Handled handled) {
    agent_.send(handled.acknowledgement);
    if (const auto& failure = handled.outcome.failure) {
        display_.diagnostic("orbilatch-present: " + handled.outcome.command + " failed: " + failure->reason);
    }
    status_.apply(handled.outcome);
    show();
}

// Each request goes on to the agent, whose second request ends it at once;
// the first one also starts the clock after which it is killed.
void Presenter::requestStop() {
    agent_.send(shutdownLine());
    if (stopRequested_) return;
    stopRequested_ = true;
    loop_.postAfter(stopTimeout, [this] {
        if (exited_) return;
        display_.diagnostic("orbilatch-present: the agent did not stop within " +
                            std::to_string(stopTimeout.count()) + " s; killing it");
        killed_ = true;
        agent_.kill();
    });
}

int Presenter::onAgentExit(sd_event_source*, const siginfo_t* info, void* self) {
    auto* presenter = static_cast<Presenter*>(self);
    presenter->exited_ = true;
    // Its last lines may still wait in the pipes.
    presenter->drain(presenter->events_, presenter->agent_.stdoutFd());
    presenter->drain(presenter->diagnostics_, presenter->agent_.stderrFd());
    sd_event_exit(presenter->loop_.handle(), presenter->exitStatus(*info));
    return 0;
}

int Presenter::exitStatus(const siginfo_t& info) {
    const bool clean = info.si_code == CLD_EXITED && info.si_status == 0;
    if (stopRequested_ && clean) return 0;
    if (killed_) return 1;
    const std::string how = info.si_code == CLD_EXITED
                                ? "with status " + std::to_string(info.si_status)
                                : "by signal " + std::to_string(info.si_status) + " (" + strsignal(info.si_status) + ")";
    display_.diagnostic(std::string("orbilatch-present: the agent stopped ") +
                        (stopRequested_ ? "" : "on its own ") + how);
    return 1;
}

}  // namespace orbilatch::presenter
