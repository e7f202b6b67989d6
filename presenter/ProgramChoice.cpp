#include "presenter/ProgramChoice.h"

#include <tuple>

#include "presenter/Failures.h"

namespace orbilatch::presenter {
namespace {

int showRank(Show::State state) {
    switch (state) {
        case Show::State::running: return 2;
        case Show::State::unknown: return 1;
        case Show::State::stopped: return 0;
    }
    return 0;
}

}  // namespace

ProgramChoice::ProgramChoice(std::vector<ProgramSource*> sources, Route& keys, std::string app)
    : sources_(std::move(sources)), keys_(keys), app_(std::move(app)), absent_(app_) {}

Route& ProgramChoice::choose() {
    if (app_ == keysName) return keys_;
    const auto rank = [this](const Found& found) {
        const bool usedLast = found.program == usedLast_.program && found.since == usedLast_.since;
        return std::tuple(showRank(found.program->show().state), usedLast, found.since);
    };
    std::optional<Found> best;
    for (ProgramSource* source : sources_) {
        for (const Found& found : source->running()) {
            if (!app_.empty() && found.program->name() != app_) continue;
            if (!best || rank(found) > rank(*best)) best = found;
        }
    }
    if (!best) return app_.empty() ? keys_ : static_cast<Route&>(absent_);
    usedLast_ = *best;
    return *best->program;
}

void ProgramChoice::Absent::carryOut(protocol::Command command, Done done) {
    if (command == protocol::Command::startPresentation) {
        done({"", Failure{code::programGone, description()}});
    } else {
        done({"", Failure{code::presentationEnded, description()}});
    }
}

}  // namespace orbilatch::presenter
