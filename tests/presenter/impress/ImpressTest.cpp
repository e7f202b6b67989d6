#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "fakes/ManualQueue.h"
#include "presenter/impress/ImpressProgram.h"

namespace orbilatch::presenter::impress {
namespace {

using namespace std::chrono_literals;
using enum protocol::Command;

const std::string paired = "LO_SERVER_SERVER_PAIRED\n\nLO_SERVER_INFO\n7.4.7.2\n\n", finished = "slideshow_finished\n\n";
const std::string started = "slideshow_started\n3\n", shown = "slide_updated\n";
const std::string preview = "slide_preview\n0\n" + std::string(100000, 'Q') + "\n\nslide_notes\n0\n<p/>\n\n";

// Impress's remote server as a script on the far end of a socket pair, and
// the route that talks to it on the manual queue.
struct ScriptedImpress {
    system::SdEventPtr event{[] {
        sd_event* event = nullptr;
        sd_event_new(&event);
        return event;
    }()};
    testing::ManualQueue queue;
    bool listening = true;
    system::FileDescriptor server;
    ImpressProgram impress{event.get(), queue, {[this] { return listening; }, [this] { return connect(); }},
                           {"orbilatch-present", "1234"}};
    std::vector<std::string> answers;

    system::FileDescriptor connect() {
        int ends[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends);
        server.reset(ends[0]);
        return system::FileDescriptor(ends[1]);
    }
    void run(std::chrono::milliseconds elapsed = 0ms) {
        while (sd_event_run(event.get(), 0) > 0) {}
        queue.advance(elapsed);
        while (sd_event_run(event.get(), 0) > 0) {}
    }
    void say(std::string_view text) {
        EXPECT_EQ(::write(server.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
        run();
    }
    std::string heard() {
        char chunk[4096];
        const ssize_t count = ::read(server.get(), chunk, sizeof chunk);
        return std::string(chunk, std::max<ssize_t>(count, 0));
    }
    void command(protocol::Command command) {
        impress.carryOut(command, [this](Carried c) { answers.push_back(c.failure ? c.failure->code : "executed"); });
        run();
    }
    void pair(std::string_view answer) {
        EXPECT_TRUE(impress.present());
        run();
        EXPECT_EQ(heard(), "LO_SERVER_CLIENT_PAIR\norbilatch-present\n1234\n\n");
        say(answer);
    }
    std::string show() const {
        const Show show = impress.show();
        if (show.state != Show::State::running) return show.state == Show::State::stopped ? "stopped" : "unknown";
        return std::to_string(*show.slide) + "/" + std::to_string(*show.slides);
    }
};

TEST(ImpressTest, EachCommandIsAnsweredByWhatImpressReportsOrRefusedWhereItWouldDoNothing) {
    const struct {
        std::string state;  // after the pairing
        protocol::Command command;
        std::string sent, reply;
        std::string answer;  // none while the route waits for a report
        std::string show;    // after the reply
    } cases[] = {
        {finished, startPresentation, "presentation_start\n\n", started + "0\n\n" + preview, "executed", "1/3"},
        {started + "1\n\n", startPresentation, "", "", "executed", "2/3"},
        {finished, nextSlide, "", "", "PRESENTATION_ENDED", "stopped"},
        {started + "2\n\n", nextSlide, "", "", "AT_LAST_SLIDE", "3/3"},
        {started + "0\n\n", previousSlide, "", "", "AT_FIRST_SLIDE", "1/3"},
        {started + "1\n\n", nextSlide, "transition_next\n\n", shown + "2\n\n" + shown + "2\n\n", "executed", "3/3"},
        {started + "1\n\n", previousSlide, "transition_previous\n\n", shown + "0\n\n", "executed", "1/3"},
        // An effect played, or the request was lost: Impress tells neither.
        {started + "1\n\n", nextSlide, "transition_next\n\n", shown + "1\n\n" + shown + "x\n\n", "", "2/3"},
        {started + "1\n\n", nextSlide, "transition_next\n\n", finished, "PRESENTATION_ENDED", "stopped"},
        {started + "1\n\n", endPresentation, "presentation_stop\n\n", finished, "executed", "stopped"},
        {started + "1\n\n", toggleBlackScreen, "presentation_blank_screen\n\n", "", "NOT_CONFIRMED", "2/3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state + protocol::commandName(c.command).data());
        ScriptedImpress impress;
        impress.pair(paired + c.state + preview);
        impress.command(c.command);
        EXPECT_EQ(impress.heard(), c.sent);
        impress.say(c.reply);
        EXPECT_EQ(impress.answers, c.answer.empty() ? std::vector<std::string>{} : std::vector{c.answer});
        EXPECT_EQ(impress.show(), c.show);
    }
}

// Impress loses a move sent right after a show starts, says nothing when it
// blanks the screen, and repeats its report of coming back once per black screen.
TEST(ImpressTest, MovesWaitForANewShowToSettleAndComeBackFromBlackFirst) {
    ScriptedImpress impress;
    impress.pair(paired + finished);
    impress.command(startPresentation);
    impress.say(started + "0\n\n");
    impress.command(nextSlide);
    impress.run(ImpressProgram::settleTime - 1ms);
    EXPECT_EQ(impress.heard(), "presentation_start\n\n");
    impress.run(1ms);
    EXPECT_EQ(impress.heard(), "transition_next\n\n");
    impress.say("slide_upd");
    impress.say("ated\n1\n\n");
    impress.command(toggleBlackScreen);
    impress.command(nextSlide);
    impress.say(started + "1\n\n" + started + "1\n\n");
    EXPECT_EQ(impress.heard(), "presentation_blank_screen\n\npresentation_resume\n\ntransition_next\n\n");
    impress.say(shown + "2\n\n" + shown + "2\n\n");
    impress.command(toggleBlackScreen);
    impress.command(toggleBlackScreen);
    impress.say(started + "2\n\n");
    EXPECT_EQ(impress.heard(), "presentation_blank_screen\n\npresentation_resume\n\n");
    EXPECT_EQ(impress.answers, (std::vector<std::string>{"executed", "executed", "NOT_CONFIRMED", "executed",
                                                         "NOT_CONFIRMED", "executed"}));
}

TEST(ImpressTest, AClientImpressDoesNotKnowAndAServerThatGoesFailTheCommandAndAReturningOneIsFoundAgain) {
    ScriptedImpress impress;
    impress.pair("LO_SERVER_VALIDATING_PIN\n\n");
    impress.command(nextSlide);
    impress.say(paired + started + "1\n\n");
    impress.command(nextSlide);
    impress.server.reset();
    impress.run();
    EXPECT_EQ(impress.show(), "unknown");
    impress.listening = false;
    impress.command(nextSlide);
    impress.command(startPresentation);
    EXPECT_EQ(impress.answers,
              (std::vector<std::string>{"NOT_PAIRED", "PROGRAM_GONE", "PRESENTATION_ENDED", "PROGRAM_GONE"}));
    impress.listening = true;
    impress.pair(paired + finished);
    EXPECT_EQ(impress.show(), "stopped");
}

TEST(ImpressTest, TheServerIsAListeningSocketOfThisUserAndThePinIsMadeOnceKeptPrivateOrTheUsersOwn) {
    const std::string header = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
    const std::string listening = "0: 00000000000000000000000000000000:063F 00000000:0000 0A 0:0 0:0 0  1000\n";
    const std::string connected = "1: 0100007F:063F 0100007F:A0E2 01 0:0 0:0 0  1000\n";
    EXPECT_TRUE(listensIn(header + connected + listening, 1599, 1000));
    EXPECT_FALSE(listensIn(header + listening, 1599, 1001));
    EXPECT_FALSE(listensIn(header + connected, 1599, 1000));

    const auto file = std::filesystem::path(::testing::TempDir()) / ("impress" + std::to_string(::getpid())) / "pin";
    const std::string pin = pairingKeptIn(file).pin;
    EXPECT_EQ(pin.size(), 4u);
    EXPECT_EQ(pairingKeptIn(file).pin, pin);
    using enum std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(file).permissions(), owner_read | owner_write);
    std::ofstream(file) << "0042\n";
    EXPECT_EQ(pairingKeptIn(file).pin, "0042");
    std::filesystem::remove_all(file.parent_path());
}

}  // namespace
}  // namespace orbilatch::presenter::impress
