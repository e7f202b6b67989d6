#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "presenter/AgentProcess.h"
#include "presenter/Display.h"
#include "presenter/Presenter.h"
#include "presenter/ProgramChoice.h"
#include "presenter/bus/SessionBus.h"
#include "presenter/check/Check.h"
#include "presenter/impress/ImpressProgram.h"
#include "presenter/keys/KeyRoute.h"
#include "presenter/keys/KeyboardChoice.h"
#include "presenter/keys/X11Focus.h"
#include "presenter/notify/DesktopNotifications.h"
#include "presenter/okular/Okular.h"
#include "presenter/options/Options.h"
#include "presenter/pdfpc/Pdfpc.h"
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

// The presentation programs driven directly: pdfpc and Okular found on the
// session bus, Impress by its remote control.
struct Programs {
    system::SdBusPtr bus;
    std::optional<pdfpc::Pdfpc> pdfpc;
    std::optional<okular::OkularSource> okular;
    impress::ImpressProgram impress;

    Programs(system::EventLoop& loop, Display& display)
        : impress(loop.handle(), loop, impress::localRemoteServer(), impress::pairingKeptIn(impress::pinFile())) {
        auto opened = bus::openSessionBus(loop.handle());
        if (auto* error = std::get_if<std::string>(&opened)) {
            display.diagnostic("orbilatch-present: " + *error + "; pdfpc and Okular get keys");
            return;
        }
        bus = std::move(std::get<system::SdBusPtr>(opened));
        pdfpc.emplace(bus.get());
        okular.emplace(bus.get(), loop.handle());
        bus::awaitBusDaemon(bus.get(), loop.handle(), std::chrono::seconds(1));
    }

    std::vector<ProgramSource*> sources() {
        std::vector<ProgramSource*> found{&impress};
        if (pdfpc) found.push_back(&*pdfpc);
        if (okular) found.push_back(&*okular);
        return found;
    }
};

std::string defaultAgent() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(".") : self.parent_path()) / "orbilatch-agent";
}

// As a service the presenter has no terminal, and the desktop is the one
// place the person sees.
bool notifies(const options::Options& options) {
    return options.notify.value_or(!::isatty(STDOUT_FILENO) && !::isatty(STDERR_FILENO));
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
    if (options.check) return check::checkSetUp({options.keyboard, options.keys.describe(), options.app});

    const auto mode = options.json              ? Display::Mode::json
                      : ::isatty(STDOUT_FILENO) ? Display::Mode::terminal
                                                : Display::Mode::lines;
    Display display(mode);
    system::EventLoop loop;
    std::optional<notify::DesktopNotifications> notifications;
    if (notifies(options)) {
        notifications.emplace(loop.handle(), [&display](std::string_view message) {
            display.diagnostic("orbilatch-present: " + std::string(message));
        });
    }

    auto opened = keys::openKeyboard(options.keyboard);
    if (auto* error = std::get_if<std::string>(&opened)) {
        display.diagnostic("orbilatch-present: " + *error + "\norbilatch-present --check says what is missing.");
        if (notifications) {
            notifications->show(notify::keysCannotBePressed("The presenter did not start"));
            notifications->settle();
        }
        return usageError;
    }
    const auto& [keyboard, notice, throughX] = std::get<keys::OpenedKeyboard>(opened);
    keys::KeyRoute route(*keyboard, options.keys, options.profile,
                         options.anyWindow ? nullptr : keys::openWindowFocus(throughX));
    if (!notice.empty()) display.diagnostic("orbilatch-present: " + notice);
    display.diagnostic("orbilatch-present: " + route.description());

    const std::string agentPath = options.agent.empty() ? defaultAgent() : options.agent;
    try {
        AgentProcess agent(agentPath);
        Programs programs(loop, display);
        display.diagnostic("orbilatch-present: " + programs.impress.description());
        ProgramChoice routes(programs.sources(), route, options.app);
        Presenter presenter(loop, agent, routes, display, notifications ? &*notifications : nullptr);
        return presenter.run();
    } catch (const std::system_error& error) {
        display.diagnostic("orbilatch-present: cannot run the agent " + agentPath + ": " + error.code().message());
        return 1;
    }
}
