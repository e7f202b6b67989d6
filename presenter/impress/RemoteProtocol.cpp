#include "presenter/impress/RemoteProtocol.h"

#include <charconv>
#include <utility>

namespace orbilatch::presenter::impress {
namespace {

constexpr std::string_view paired = "LO_SERVER_SERVER_PAIRED";
constexpr std::string_view awaitingPin = "LO_SERVER_VALIDATING_PIN";
constexpr std::string_view showStarted = "slideshow_started";
constexpr std::string_view showFinished = "slideshow_finished";
constexpr std::string_view slideShown = "slide_updated";
// The lines of the longest report, and one more to tell a longer message from it.
constexpr std::size_t keptLines = 4;

std::optional<unsigned> number(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<Report> reportOf(const std::vector<std::string>& lines) {
    const std::string_view kind = lines.front();
    if (lines.size() == 1) {
        if (kind == paired) return report::Paired{};
        if (kind == awaitingPin) return report::AwaitingPin{};
        if (kind == showFinished) return report::ShowFinished{};
    } else if (lines.size() == 2 && kind == slideShown) {
        if (const auto slide = number(lines[1])) return report::SlideShown{*slide};
    } else if (lines.size() == 3 && kind == showStarted) {
        const auto slides = number(lines[1]), slide = number(lines[2]);
        if (slides && slide) return report::ShowStarted{*slides, *slide};
    }
    return std::nullopt;
}

}  // namespace

std::optional<Report> MessageReader::read(std::string line) {
    if (!line.empty()) {
        if (message_.size() < keptLines) message_.push_back(std::move(line));
        return std::nullopt;
    }
    if (message_.empty()) return std::nullopt;
    return reportOf(std::exchange(message_, {}));
}

std::string pairRequest(std::string_view name, std::string_view pin) {
    return "LO_SERVER_CLIENT_PAIR\n" + std::string(name) + '\n' + std::string(pin) + "\n\n";
}

std::string message(std::string_view request) { return std::string(request) + "\n\n"; }

}  // namespace orbilatch::presenter::impress
