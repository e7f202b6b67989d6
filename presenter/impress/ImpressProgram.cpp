#include "presenter/impress/ImpressProgram.h"

#include <utility>
#include <variant>

#include "presenter/Failures.h"

namespace orbilatch::presenter::impress {
namespace {

using enum protocol::Command;

constexpr std::string_view nothingSent = "nothing sent";

Carried answered(std::string code = "", std::string reason = "") {
    if (code.empty()) return {std::string(nothingSent), std::nullopt};
    return {std::string(nothingSent), Failure{std::move(code), std::move(reason)}};
}

bool needsShow(protocol::Command command) { return command != startPresentation; }

}  // namespace

ImpressProgram::ImpressProgram(sd_event* event, system::MainQueue& queue, RemoteServer server, Pairing pairing)
    : event_(event), queue_(queue), server_(std::move(server)), pairing_(std::move(pairing)) {}

bool ImpressProgram::present() {
    if (connection_) return true;
    if (!server_.listens()) return false;
    system::FileDescriptor socket = server_.connect();
    if (!socket) return false;
    connection_.emplace(
        event_, std::move(socket), [this](std::vector<std::string>& lines) { read(lines); }, [this] { lost(); });
    link_ = Link::pairing;
    connection_->send(pairRequest(pairing_.name, pairing_.pin));
    return true;
}

std::vector<Found> ImpressProgram::running() {
    if (!present()) {
        since_.reset();
        return {};
    }
    if (!since_) since_ = std::chrono::steady_clock::now();
    return {{this, *since_}};
}

void ImpressProgram::carryOut(protocol::Command command, Done done) {
    present();
    pending_ = Pending{command, std::move(done), std::nullopt};
    advance();
}

std::string ImpressProgram::description() const {
    return "LibreOffice Impress through its remote control, as " + pairing_.name + " with PIN " + pairing_.pin;
}

Show ImpressProgram::show() const {
    if (state_ != Show::State::running) return {state_, std::nullopt, std::nullopt};
    return {state_, slide_ + 1, slides_};
}

void ImpressProgram::read(std::vector<std::string>& lines) {
    for (auto& line : lines) {
        const auto report = reader_.read(std::move(line));
        if (!report) continue;
        std::visit([this](const auto& told) { apply(told); }, *report);
        advance();
    }
}

void ImpressProgram::apply(const report::Paired&) { link_ = Link::paired; }

void ImpressProgram::apply(const report::AwaitingPin&) { link_ = Link::awaitingPin; }

// Only a show that starts needs to settle: neither one that was running when
// the connection opened nor one that comes back from black.
void ImpressProgram::apply(const report::ShowStarted& started) {
    if (state_ == Show::State::stopped) hold();
    state_ = Show::State::running;
    slides_ = started.slides;
    slide_ = started.slide;
    blanked_ = false;
    if (!pending_ || (pending_->sent != request::start && pending_->sent != request::resume)) return;
    if (pending_->command == startPresentation || pending_->command == toggleBlackScreen) {
        finish({std::string(*pending_->sent), std::nullopt});
    } else {
        pending_->sent.reset();  // back from black: now the move
    }
}

void ImpressProgram::apply(const report::ShowFinished&) {
    state_ = Show::State::stopped;
    blanked_ = false;
    if (!pending_ || !needsShow(pending_->command)) return;
    if (pending_->command == endPresentation && pending_->sent) {
        finish({std::string(*pending_->sent), std::nullopt});
    } else {
        pending_->sent.reset();
    }
}

// Impress repeats a slide's report once for every time the show came back
// from a black screen; only a change counts.
void ImpressProgram::apply(const report::SlideShown& shown) {
    if (shown.slide == slide_) return;
    slide_ = shown.slide;
    if (pending_ && pending_->sent && (pending_->sent == request::next || pending_->sent == request::previous)) {
        finish({std::string(*pending_->sent), std::nullopt});
    }
}

void ImpressProgram::lost() {
    connection_.reset();
    reader_ = {};
    link_ = Link::none;
    state_ = Show::State::unknown;
    blanked_ = holding_ = false;
    ++holds_;
    if (pending_) finish(answered(code::programGone, "LibreOffice Impress closed its remote control"));
}

void ImpressProgram::hold() {
    holding_ = true;
    queue_.postAfter(settleTime, [this, hold = ++holds_] {
        if (hold != holds_) return;
        holding_ = false;
        advance();
    });
}

// Takes the waiting command as far as the state allows: an answer, a request
// sent, or nothing until the next report.
void ImpressProgram::advance() {
    if (!pending_ || pending_->sent) return;
    const protocol::Command command = pending_->command;
    switch (link_) {
        case Link::none:
            return finish(command == startPresentation
                              ? answered(code::programGone, "LibreOffice Impress is not running with its remote control on")
                              : answered(code::presentationEnded, "LibreOffice Impress is not running"));
        case Link::awaitingPin: {
            const Failure failure = notPaired();
            return finish(answered(failure.code, failure.reason));
        }
        case Link::pairing:
            return;
        case Link::paired:
            if (state_ == Show::State::unknown) return;
            break;
    }
    const bool running = state_ == Show::State::running;
    if (command == startPresentation && running) return finish(answered());
    if (needsShow(command) && !running) return finish(answered(code::presentationEnded, "no show runs in LibreOffice Impress"));
    // Impress would show its end screen instead, or play the first slide's effects backwards.
    if (command == nextSlide && slide_ + 1 >= slides_) return finish(answered(code::atLastSlide, "the show is on its last slide"));
    if (command == previousSlide && slide_ == 0) return finish(answered(code::atFirstSlide, "the show is on its first slide"));
    if (holding_) return;

    std::string_view request = request::resume;
    if (command == startPresentation) request = request::start;
    if (command == endPresentation) request = request::stop;
    if (!blanked_ && command == toggleBlackScreen) request = request::blank;
    if (!blanked_ && command == nextSlide) request = request::next;
    if (!blanked_ && command == previousSlide) request = request::previous;
    connection_->send(message(request));
    if (request != request::blank) {
        pending_->sent = request;
        return;
    }
    blanked_ = true;
    finish({std::string(request), Failure{code::notConfirmed, "Impress does not report a black screen"}});
}

void ImpressProgram::finish(Carried carried) {
    const Done done = std::move(pending_->done);
    pending_.reset();
    done(std::move(carried));
}

Failure ImpressProgram::notPaired() const {
    return {code::notPaired, "LibreOffice Impress does not know " + pairing_.name +
                              " yet: in Impress choose Slide Show > Impress Remote, pick " + pairing_.name + ", type the PIN " +
                              pairing_.pin + " and connect, once"};
}

}  // namespace orbilatch::presenter::impress
