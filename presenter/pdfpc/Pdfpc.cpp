#include "presenter/pdfpc/Pdfpc.h"

#include <utility>

#include "presenter/Failures.h"
#include "presenter/bus/SessionBus.h"

namespace orbilatch::presenter::pdfpc {
namespace {

constexpr const char* busName = "io.github.pdfpc";
constexpr const char* objectPath = "/io/github/pdfpc";

}  // namespace

Pdfpc::Pdfpc(sd_bus* bus)
    : bus_(bus),
      pageTurns_(bus::subscribe(bus,
                                "type='signal',sender='io.github.pdfpc',path='/io/github/pdfpc',"
                                "interface='io.github.pdfpc',member='OverlayChange'",
                                [this](sd_bus_message* signal) { onPageTurned(signal); })),
      name_(bus, names(), [this](const std::string&, bool owned) { onOwned(owned); }) {}

bus::Names names() {
    return {busName, [](std::string_view name) { return name == busName; }};
}

// START finds the show running; END goes to the last page rather than quit
// pdfpc, which the watch could not undo.
void Pdfpc::carryOut(protocol::Command command, Done done) {
    using enum protocol::Command;
    switch (command) {
        case nextSlide:
            return trigger("next", std::move(done), Failure{code::atLastSlide, "pdfpc is on its last page"});
        case previousSlide:
            return trigger("prev", std::move(done), Failure{code::atFirstSlide, "pdfpc is on its first page"});
        case startPresentation: return done({"presenting already", std::nullopt});
        case endPresentation: return trigger("gotoLast", std::move(done), std::nullopt);
        case toggleBlackScreen:
            return trigger("blank", std::move(done), Failure{code::notConfirmed, "pdfpc does not tell its black screen"});
    }
}

void Pdfpc::trigger(const char* action, Done done, Unmoved unmoved) {
    action_ = action;
    pending_ = std::move(done);
    call_ = bus::call(
        bus_, {busName, objectPath, busName, "TriggerAction"},
        [this, unmoved](sd_bus_message*, const sd_bus_error* error) {
            if (!error) return answer({action_, unmoved});
            answer({action_, Failure{bus::isGone(error) ? code::programGone : code::noReport,
                                     "pdfpc: " + bus::describe(error)}});
        },
        [action](sd_bus_message* call) { return sd_bus_message_append(call, "s", action); });
}

void Pdfpc::onPageTurned(sd_bus_message* signal) {
    int index = 0;
    if (sd_bus_message_read(signal, "i", &index) < 0 || index < 0) return;
    page_ = static_cast<unsigned>(index) + 1;
    answer({action_, std::nullopt});
}

// Each instance that gets the name (a second pdfpc waits for it) is a new
// program, with a page count of its own.
void Pdfpc::onOwned(bool owned) {
    page_.reset();
    pages_.reset();
    if (!owned) {
        since_.reset();
        return answer({action_, Failure{code::programGone, "pdfpc quit"}});
    }
    since_ = std::chrono::steady_clock::now();
    countCall_ = bus::call(
        bus_, {busName, objectPath, "org.freedesktop.DBus.Properties", "Get"},
        [this](sd_bus_message* reply, const sd_bus_error* error) {
            int count = 0;
            if (!error && sd_bus_message_read(reply, "v", "i", &count) >= 0 && count > 0) {
                pages_ = static_cast<unsigned>(count);
            }
        },
        [](sd_bus_message* call) { return sd_bus_message_append(call, "ss", busName, "NumberOfOverlays"); });
}

void Pdfpc::answer(Carried carried) {
    if (auto done = std::exchange(pending_, nullptr)) done(std::move(carried));
}

Show Pdfpc::show() const {
    if (!since_) return {Show::State::stopped, std::nullopt, std::nullopt};
    return {Show::State::running, page_, pages_};
}

std::vector<Found> Pdfpc::running() {
    if (!since_) return {};
    return {{this, *since_}};
}

}  // namespace orbilatch::presenter::pdfpc
