#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fakes/ManualQueue.h"
#include "presenter/CommandHandler.h"
#include "presenter/ProgramChoice.h"
#include "presenter/Status.h"

namespace orbilatch::presenter {
namespace {

using namespace std::chrono_literals;
using State = Show::State;
using enum protocol::Command;

// A program that answers when the test says so.
struct FakeProgram final : Program {
    std::string programName, label;
    Show shown;
    std::vector<protocol::Command> carried;
    std::vector<Done> dones;

    FakeProgram(std::string name, State state) : programName(name), label(name), shown{state, {}, {}} {}
    void carryOut(protocol::Command command, Done done) override {
        carried.push_back(command);
        dones.push_back(std::move(done));
    }
    std::string description() const override { return label; }
    std::string_view name() const override { return programName; }
    Show show() const override { return shown; }
};

struct FakeSource final : ProgramSource {
    std::vector<Found> found;
    std::vector<Found> running() override { return found; }
};

nlohmann::json acknowledgement(std::string id, int version, std::string code = "") {
    nlohmann::json ack = {{"type", "command_acknowledgement"}, {"commandId", id}, {"protocolVersion", version},
                          {"status", code.empty() ? "executed" : "failed"}};
    if (!code.empty()) ack["errorCode"] = code;
    return ack;
}

TEST(CommandHandlerTest, OneCommandAtATimeInOrderEachAnsweredOnceByItsRouteOrItsDeadline) {
    testing::ManualQueue queue;
    FakeProgram pdfpc("pdfpc", State::running);
    pdfpc.shown.slide = 3, pdfpc.shown.slides = 12;
    FakeSource source;
    source.found = {{&pdfpc, {}}};
    FakeProgram keys("keys", State::unknown);
    ProgramChoice choice({&source}, keys, "");
    std::vector<nlohmann::json> acks;
    std::vector<CommandOutcome> outcomes;
    auto now = std::chrono::steady_clock::time_point{};
    CommandHandler handler(queue, choice, [&](CommandHandler::Handled handled) {
        acks.push_back(nlohmann::json::parse(handled.acknowledgement));
        outcomes.push_back(std::move(handled.outcome));
    }, [&] { return now; });

    handler.handle({"1", 2, "NEXT_SLIDE"}, now);
    handler.handle({"2", 1, "PREVIOUS_SLIDE"}, now);
    handler.handle({"3", 2, "ZOOM_IN"}, now);
    handler.handle({"4", 2, "END_PRESENTATION"}, now);
    queue.advance(1999ms);
    EXPECT_EQ(pdfpc.carried, std::vector{nextSlide}) << "the others wait for the first";
    now += 40ms;
    pdfpc.dones[0]({"next", std::nullopt});
    EXPECT_EQ(pdfpc.carried.size(), 1u) << "the next starts on a later turn, not inside the done";
    queue.advance();
    EXPECT_EQ(pdfpc.carried, (std::vector{nextSlide, previousSlide}));
    queue.advance(1999ms);
    EXPECT_EQ(acks.size(), 1u) << "the second is still within its deadline";
    queue.advance(1ms);
    EXPECT_EQ(pdfpc.carried, (std::vector{nextSlide, previousSlide, endPresentation})) << "the third is no command";
    pdfpc.dones[1]({"prev", std::nullopt});
    pdfpc.dones[2]({"gotoLast", Failure{"PROGRAM_GONE", "pdfpc went away"}});
    pdfpc.dones[2]({"gotoLast", std::nullopt});
    queue.advance(10s);

    EXPECT_EQ(acks, (std::vector{acknowledgement("1", 2), acknowledgement("2", 1, "NO_REPORT"),
                                 acknowledgement("3", 2, "UNKNOWN_COMMAND"), acknowledgement("4", 2, "PROGRAM_GONE")}));
    EXPECT_EQ(outcomes[0].where, "pdfpc slide 3/12");
    EXPECT_EQ(outcomes[0].took, 40ms);
}

// Each row: the programs found, each (name, its show, when found), the forced
// program, then the route of each command in turn as its show changes.
TEST(ProgramChoiceTest, AShowRunningFirstThenTheOneUsedLastThenTheNewest) {
    const auto t = [](int s) { return std::chrono::steady_clock::time_point{} + std::chrono::seconds(s); };
    const struct {
        std::vector<std::tuple<std::string, State, int>> programs;
        std::string app;
        std::vector<std::pair<std::vector<State>, std::string>> steps;  // the shows, then the route chosen
    } cases[] = {
        {{}, "", {{{}, "keys"}}},
        {{{"pdfpc", State::running, 1}}, "keys", {{{State::running}, "keys"}}},
        {{{"okular", State::stopped, 1}, {"okular", State::unknown, 2}, {"okular", State::stopped, 3}}, "",
         {{{State::stopped, State::unknown, State::stopped}, "okular 2"},
          {{State::stopped, State::stopped, State::stopped}, "okular 2"},
          {{State::stopped, State::stopped, State::running}, "okular 3"}}},
        {{{"pdfpc", State::running, 1}, {"impress", State::running, 2}}, "",
         {{{State::running, State::running}, "impress 2"},
          {{State::running, State::stopped}, "pdfpc 1"},
          {{State::running, State::running}, "pdfpc 1"}}},
        {{{"pdfpc", State::running, 1}, {"okular", State::stopped, 2}}, "okular",
         {{{State::running, State::stopped}, "okular 2"}}},
        {{{"pdfpc", State::running, 1}}, "okular", {{{State::running}, "okular is not running"}}},
    };
    for (const auto& c : cases) {
        std::vector<std::unique_ptr<FakeProgram>> programs;
        FakeSource source;
        for (const auto& [name, state, since] : c.programs) {
            programs.push_back(std::make_unique<FakeProgram>(name, state));
            programs.back()->label += " " + std::to_string(since);
            source.found.push_back({programs.back().get(), t(since)});
        }
        FakeProgram keys("keys", State::unknown);
        ProgramChoice choice({&source}, keys, c.app);
        for (const auto& [shows, chosen] : c.steps) {
            for (std::size_t i = 0; i < shows.size(); ++i) programs[i]->shown.state = shows[i];
            EXPECT_EQ(choice.choose().description(), chosen) << c.app << " " << c.programs.size() << " programs";
        }
    }
}

TEST(ProgramChoiceTest, AForcedProgramThatIsNotRunningHasNoShowToChangeAndNoneToStart) {
    FakeProgram keys("keys", State::unknown);
    ProgramChoice choice({}, keys, "impress");
    protocol::PerCommand<std::string> codes;
    for (const protocol::Command command : protocol::commands) {
        choice.choose().carryOut(command, [&](Carried carried) { codes[protocol::indexOf(command)] = carried.failure.value_or(Failure{}).code; });
    }
    EXPECT_EQ(codes, (protocol::PerCommand<std::string>{"PRESENTATION_ENDED", "PRESENTATION_ENDED", "PROGRAM_GONE",
                                                        "PRESENTATION_ENDED", "PRESENTATION_ENDED"}));
}

TEST(StatusTest, TheLineFollowsTheAdapterTheWatchAndTheCommands) {
    const AgentEvent watchOn{WatchChanged{true}}, watchOff{WatchChanged{false}};
    const auto bluetooth = [](std::string state, std::string message = "") {
        return AgentEvent{BluetoothStateChanged{std::move(state), std::move(message)}};
    };
    const CommandOutcome next{"NEXT_SLIDE", "", "PageDown", std::nullopt, 1250us};
    const CommandOutcome onPdfpc{"NEXT_SLIDE", "pdfpc slide 3/12", "next", std::nullopt, 9100us};
    const CommandOutcome failed{"START_PRESENTATION", "", "F5", Failure{"KEY_NOT_ON_KEYBOARD", "no F5 key"}, 40us};
    const struct {
        std::vector<std::variant<AgentEvent, CommandOutcome>> steps;
        std::string line;
    } cases[] = {
        {{bluetooth("error", "Maximum advertisements reached")},
         "Bluetooth error (Maximum advertisements reached) | watch not connected | no command yet"},
        {{watchOn, bluetooth("connected"), next, onPdfpc},
         "Bluetooth connected | watch connected | pdfpc slide 3/12 | NEXT_SLIDE: next in 9.1 ms | 2 done"},
        {{next, failed},
         "Bluetooth starting | watch not connected | START_PRESENTATION: failed, KEY_NOT_ON_KEYBOARD (no F5 key) "
         "| 1 done, 1 failed"},
        {{watchOn, watchOff}, "Bluetooth starting | watch not connected | no command yet"},
    };
    for (const auto& c : cases) {
        Status status;
        for (const auto& step : c.steps) std::visit([&](const auto& s) { status.apply(s); }, step);
        EXPECT_EQ(describe(status), c.line);
    }
    EXPECT_FALSE(Status().apply(AgentEvent{}));
}

}  // namespace
}  // namespace orbilatch::presenter
