#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "presenter/Program.h"
#include "presenter/ProgramSource.h"
#include "presenter/impress/RemoteConnection.h"
#include "presenter/impress/RemoteProtocol.h"
#include "presenter/impress/RemoteServer.h"
#include "system/MainQueue.h"

namespace orbilatch::presenter::impress {

// LibreOffice Impress, driven through its remote control: one connection while
// it runs, its reports kept as the show's state, and each command answered by
// the report that shows it done.
class ImpressProgram final : public Program, public ProgramSource {
public:
    // Impress loses a move that comes too soon after a show starts: within
    // 400 ms of the first show after LibreOffice started, 150 ms later on.
    static constexpr std::chrono::milliseconds settleTime{1000};

    ImpressProgram(sd_event* event, system::MainQueue& queue, RemoteServer server, Pairing pairing);

    ImpressProgram(const ImpressProgram&) = delete;
    ImpressProgram& operator=(const ImpressProgram&) = delete;

    // Whether Impress's remote server is there now. Connects to it when it is
    // and no connection is open, so that the show's state follows; call it
    // before each command.
    bool present();
    // This program while its remote server is there, since it was first found.
    std::vector<Found> running() override;

    void carryOut(protocol::Command command, Done done) override;
    std::string description() const override;
    std::string_view name() const override { return "impress"; }
    Show show() const override;

private:
    enum class Link { none, pairing, awaitingPin, paired };
    struct Pending {
        protocol::Command command;
        Done done;
        std::optional<std::string_view> sent;  // the request out for it, if one is
    };

    void read(std::vector<std::string>& lines);
    void apply(const report::Paired& paired);
    void apply(const report::AwaitingPin& awaiting);
    void apply(const report::ShowStarted& started);
    void apply(const report::ShowFinished& finished);
    void apply(const report::SlideShown& shown);
    void lost();
    void hold();
    void advance();
    void finish(Carried carried);
    Failure notPaired() const;

    sd_event* event_;
    system::MainQueue& queue_;
    RemoteServer server_;
    Pairing pairing_;
    std::optional<std::chrono::steady_clock::time_point> since_;

    std::optional<RemoteConnection> connection_;
    MessageReader reader_;
    Link link_ = Link::none;
    Show::State state_ = Show::State::unknown;
    unsigned slide_ = 0;
    unsigned slides_ = 0;
    bool blanked_ = false;
    bool holding_ = false;
    unsigned holds_ = 0;
    std::optional<Pending> pending_;
};

}  // namespace orbilatch::presenter::impress
