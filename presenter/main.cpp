#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "presenter/AgentProcess.h"
#include "presenter/CommandHandler.h"
#include "presenter/Display.h"
#include "presenter/Presenter.h"
#include "presenter/keys/KeyRoute.h"
#include "presenter/keys/KeyboardChoice.h"
#include "presenter/keys/X11Focus.h"
#include "presenter/options/Options.h"
#include "system/EventLoop.h"
#include "system/TerminationSignals.h"

namespace {

using namespace orbilatch;
using namespace orbilatch::presenter;

constexpr int usageError = 2;

// Before anything else: SIGCHLD for good, for the event loop's child source,
// and SIGINT and SIGTERM until the loop takes them over, so that one arriving
// meanwhile waits for it. The agent gets a clean mask back before it starts.
void blockSignals() {
    sigset_t signals = system::terminationSignals();
    sigaddset(&signals, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A write to an agent that just died must fail, not end the presenter.
    std::signal(SIGPIPE, SIG_IGN);
}

std::string defaultAgent() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(".") : self.parent_path()) / "orbilatch-agent";
}

}  // namespace

int main(int argc, char** argv) {
    blockSignals();
    auto parsed = options::parseOptions(std::vector<std::string_view>(argv + 1, argv + argc));
    if (auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "orbilatch-present: " << *error << '\n';
        return usageError;
    }
    const options::Options& options = std::get<options::Options>(parsed);
    if (options.help) {
        std::cout << options::helpText();
        return 0;
    }

    auto opened = keys::openKeyboard(options.keyboard);
    if (auto* error = std::get_if<std::string>(&opened)) {
        std::cerr << "orbilatch-present: " << *error << '\n';
        return usageError;
    }
    const auto& [keyboard, notice, throughX] = std::get<keys::OpenedKeyboard>(opened);
    keys::KeyRoute route(*keyboard, options.keys, options.profile,
                         options.anyWindow ? nullptr : keys::openWindowFocus(throughX));

    const auto mode = options.json              ? Display::Mode::json
                      : ::isatty(STDOUT_FILENO) ? Display::Mode::terminal
                                                : Display::Mode::lines;
    Display display(mode);
    if (!notice.empty()) display.diagnostic("orbilatch-present: " + notice);
    display.diagnostic("orbilatch-present: " + route.description());

    const std::string agentPath = options.agent.empty() ? defaultAgent() : options.agent;
    try {
        system::EventLoop loop;
        AgentProcess agent(agentPath);
        CommandHandler commands(route);
        Presenter presenter(loop, agent, commands, display);
        return presenter.run();
    } catch (const std::system_error& error) {
        display.diagnostic("orbilatch-present: cannot run the agent " + agentPath + ": " + error.code().message());
        return 1;
    }
}
