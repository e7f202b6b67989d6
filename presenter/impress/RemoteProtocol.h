#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Impress's remote control: UTF-8 lines over TCP, each message its lines and
// then an empty line, in both directions.
namespace orbilatch::presenter::impress {

// What the server's messages tell. The rest of what it sends (its version, the
// document's title, every slide's preview and notes) matters to no command.
namespace report {
struct Paired {};       // it knows this client by name and PIN
struct AwaitingPin {};  // it does not: it waits until someone types the PIN into Impress
// A show started, or came back from a black screen: Impress says both alike.
struct ShowStarted {
    unsigned slides;
    unsigned slide;  // 0-based, like every slide it names
};
struct ShowFinished {};
struct SlideShown {
    unsigned slide;
};
}  // namespace report
using Report = std::variant<report::Paired, report::AwaitingPin, report::ShowStarted, report::ShowFinished,
                            report::SlideShown>;

// Gathers the server's lines into messages.
class MessageReader {
public:
    // The report of the message this line ends, if that message reports anything.
    std::optional<Report> read(std::string line);

private:
    std::vector<std::string> message_;
};

// The commands this program sends, each a message of one line.
namespace request {
inline constexpr std::string_view start = "presentation_start";
inline constexpr std::string_view stop = "presentation_stop";
// Plays the slide's next effect, or moves to the next slide when none is left.
inline constexpr std::string_view next = "transition_next";
inline constexpr std::string_view previous = "transition_previous";
inline constexpr std::string_view blank = "presentation_blank_screen";
inline constexpr std::string_view resume = "presentation_resume";
}  // namespace request

// The first message of a client; the server reads nothing else from it until then.
std::string pairRequest(std::string_view name, std::string_view pin);
std::string message(std::string_view request);

}  // namespace orbilatch::presenter::impress
