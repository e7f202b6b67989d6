#include "presenter/check/PresentationPrograms.h"

#include <chrono>
#include <set>

#include "presenter/bus/NameWatch.h"
#include "presenter/bus/SessionBus.h"
#include "presenter/impress/RemoteServer.h"
#include "presenter/okular/Okular.h"
#include "presenter/pdfpc/Pdfpc.h"

namespace orbilatch::presenter::check {
namespace {

using namespace std::chrono_literals;

void askSessionBus(ProgramFacts& facts) {
    sd_event* made = nullptr;
    if (const int result = sd_event_new(&made); result < 0) {
        facts.unreachable = "no event loop";
        return;
    }
    const system::SdEventPtr loop(made);
    auto opened = bus::openSessionBus(loop.get());
    if (auto* error = std::get_if<std::string>(&opened)) {
        facts.unreachable = *error;
        return;
    }
    sd_bus* bus = std::get<system::SdBusPtr>(opened).get();
    std::set<std::string> running;
    const auto note = [&running](const char* program) {
        return [&running, program](const std::string&, bool owned) {
            if (owned) running.insert(program);
        };
    };
    const bus::NameWatch pdfpcs(bus, pdfpc::names(), note("pdfpc")), okulars(bus, okular::names(), note("Okular"));
    if (!bus::awaitBusDaemon(bus, loop.get(), 1s)) facts.unreachable = "its daemon does not answer";
    // Each program once, however many of it run.
    for (const char* program : {"pdfpc", "Okular"}) {
        if (running.contains(program)) facts.onSessionBus.emplace_back(program);
    }
}

}  // namespace

ProgramFacts askPrograms() {
    ProgramFacts facts;
    askSessionBus(facts);
    facts.impressRemoteListens = impress::localRemoteServer().listens();
    return facts;
}

}  // namespace orbilatch::presenter::check
