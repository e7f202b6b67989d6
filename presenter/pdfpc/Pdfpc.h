#pragma once

#include <chrono>
#include <optional>

#include "presenter/Program.h"
#include "presenter/ProgramSource.h"
#include "presenter/bus/NameWatch.h"

namespace orbilatch::presenter::pdfpc {

// pdfpc's name on the session bus.
bus::Names names();

// pdfpc, found by its name on the session bus and driven by its actions
// there. It presents from the moment it starts, so while it runs a show runs;
// it reports each page it turns to, before it answers the action that turned
// it, so an answer without a report means that nothing moved.
class Pdfpc final : public Program, public ProgramSource {
public:
    explicit Pdfpc(sd_bus* bus);

    void carryOut(protocol::Command command, Done done) override;
    std::string description() const override { return "pdfpc on the session bus"; }
    std::string_view name() const override { return "pdfpc"; }
    // The page is known from pdfpc's first page turn on.
    Show show() const override;

    std::vector<Found> running() override;

private:
    // How an action that pdfpc answered without turning a page came out.
    using Unmoved = std::optional<Failure>;

    void trigger(const char* action, Done done, Unmoved unmoved);
    void onPageTurned(sd_bus_message* signal);
    void onOwned(bool owned);
    void answer(Carried carried);

    sd_bus* bus_;
    std::optional<std::chrono::steady_clock::time_point> since_;  // while it runs: since when
    std::optional<unsigned> page_;
    std::optional<unsigned> pages_;
    std::string action_;
    Done pending_;  // until the page turns or pdfpc answers
    system::SdBusSlotPtr call_;
    system::SdBusSlotPtr countCall_;
    system::SdBusSlotPtr pageTurns_;
    bus::NameWatch name_;
};

}  // namespace orbilatch::presenter::pdfpc
