#include "presenter/okular/Okular.h"

#include <charconv>
#include <utility>

#include "presenter/Failures.h"
#include "presenter/bus/SessionBus.h"

namespace orbilatch::presenter::okular {
namespace {

constexpr std::string_view namePrefix = "org.kde.okular-";

// The process of a name such as "org.kde.okular-1234"; nothing for any other.
std::optional<pid_t> processOf(std::string_view name) {
    if (!name.starts_with(namePrefix)) return std::nullopt;
    name.remove_prefix(namePrefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
    return pid;
}

Show::State stateOf(std::optional<bool> presenting) {
    if (!presenting) return Show::State::unknown;
    return *presenting ? Show::State::running : Show::State::stopped;
}

}  // namespace

Okular::Okular(sd_bus* bus, std::string busName, pid_t pid, XWindows* windows)
    : bus_(bus), busName_(std::move(busName)), pid_(pid), windows_(windows) {}

Okular::~Okular() {
    if (windows_) windows_->unwatch(this);
}

Show Okular::show() const {
    return {stateOf(windows_ ? windows_->presenting(pid_) : std::nullopt), page_, pages_};
}

void Okular::carryOut(protocol::Command command, Done done) {
    using enum protocol::Command;
    pending_ = std::move(done);
    const Show::State state = show().state;
    const bool needsShow = command != startPresentation;
    if (needsShow && state == Show::State::stopped) {
        return answer({"", Failure{code::presentationEnded, "Okular shows no presentation"}});
    }
    switch (command) {
        case nextSlide: return turn("slotNextPage", true);
        case previousSlide: return turn("slotPreviousPage", false);
        case startPresentation:
            if (state == Show::State::running) return answer({"presenting already", std::nullopt});
            return toggle(true);
        case endPresentation: return toggle(false);
        case toggleBlackScreen:
            return answer({"", Failure{code::notSupported, "Okular's black screen has no way in but its key B"}});
    }
}

// The page before and after the turn tells whether it moved; the count,
// asked only when it did not, whether it could not, at the first or the
// last page.
void Okular::turn(const char* method, bool forward) {
    ask("currentPage", [this, method, forward](unsigned before) {
        ask(method, [this, method, forward, before](unsigned) {
            ask("currentPage", [this, method, forward, before](unsigned after) {
                page_ = after;
                if (after != before) {
                    answer({method, std::nullopt});
                    return ask("pages", [this](unsigned pages) { pages_ = pages; });  // for the status line
                }
                ask("pages", [this, method, forward, before](unsigned pages) {
                    pages_ = pages;
                    if (forward && before == pages) {
                        return answer({method, Failure{code::atLastSlide, "Okular is on its last page"}});
                    }
                    if (!forward && before == 1) {
                        return answer({method, Failure{code::atFirstSlide, "Okular is on its first page"}});
                    }
                    answer({method, Failure{code::noReport, "Okular's page did not change"}});
                });
            });
        });
    });
}

// Okular only toggles its presentation; the window it maps or unmaps is the
// report. Where that cannot be seen, the toggle goes out unconfirmed.
void Okular::toggle(bool presenting) {
    const char* method = "slotTogglePresentation";
    if (!windows_ || !windows_->presenting(pid_).has_value()) {
        return ask(method, [this, method](unsigned) {
            answer({method, Failure{code::notConfirmed, "Okular's presentation window cannot be seen here"}});
        });
    }
    const auto check = [this, method, presenting] {
        if (windows_->presenting(pid_) == presenting) answer({method, std::nullopt});
    };
    windows_->watch(this, check);
    ask(method, [check](unsigned) { check(); });
}

// Calls a method of Okular's part; `then` gets its unsigned answer, or 0 for
// one that answers nothing.
void Okular::ask(const char* member, Then then) {
    call_ = bus::call(bus_, {busName_.c_str(), "/okular", "org.kde.okular", member},
                      [this, then = std::move(then)](sd_bus_message* reply, const sd_bus_error* error) {
                          unsigned value = 0;
                          if (error) {
                              return answer({"", Failure{bus::isGone(error) ? code::programGone : code::noReport,
                                                         "Okular: " + bus::describe(error)}});
                          }
                          if (sd_bus_message_peek_type(reply, nullptr, nullptr) > 0) {
                              sd_bus_message_read(reply, "u", &value);
                          }
                          then(value);
                      });
}

void Okular::gone() { answer({"", Failure{code::programGone, "Okular quit"}}); }

void Okular::answer(Carried carried) {
    if (windows_) windows_->unwatch(this);
    if (auto done = std::exchange(pending_, nullptr)) done(std::move(carried));
}

OkularSource::OkularSource(sd_bus* bus, sd_event* loop)
    : bus_(bus),
      windows_(XWindows::open(loop)),
      names_(bus, names(), [this](const std::string& name, bool owned) { onName(name, owned); }) {}

bus::Names names() {
    return {"org.kde", [](std::string_view name) { return processOf(name).has_value(); }};
}

std::vector<Found> OkularSource::running() {
    std::vector<Found> found;
    for (auto& [name, program] : running_) found.push_back({program.first.get(), program.second});
    return found;
}

void OkularSource::onName(const std::string& name, bool owned) {
    if (owned) {
        running_[name] = {std::make_unique<Okular>(bus_, name, *processOf(name), windows_.get()),
                          std::chrono::steady_clock::now()};
        return;
    }
    if (const auto program = running_.find(name); program != running_.end()) {
        program->second.first->gone();
        running_.erase(program);
    }
}

}  // namespace orbilatch::presenter::okular
