#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "presenter/Program.h"
#include "presenter/ProgramSource.h"
#include "presenter/bus/NameWatch.h"
#include "presenter/okular/XWindows.h"

namespace orbilatch::presenter::okular {

// The names of Okular's processes on the session bus, such as "org.kde.okular-1234".
bus::Names names();

// One running Okular, driven through its part's object on the session bus.
// Its page calls change the page before they answer, so the page read right
// after tells whether it moved. Whether it presents is seen only from its
// presentation window on X11; elsewhere its show is unknown.
class Okular final : public Program {
public:
    // windows: nothing where X11 cannot be seen.
    Okular(sd_bus* bus, std::string busName, pid_t pid, XWindows* windows);
    ~Okular() override;

    void carryOut(protocol::Command command, Done done) override;
    std::string description() const override { return "Okular (process " + std::to_string(pid_) + ")"; }
    std::string_view name() const override { return "okular"; }
    Show show() const override;

    // Answers the command under way: the program has gone.
    void gone();

private:
    using Then = std::function<void(unsigned value)>;

    void turn(const char* method, bool forward);
    void toggle(bool presenting);
    void ask(const char* member, Then then);
    void answer(Carried carried);

    sd_bus* bus_;
    std::string busName_;
    pid_t pid_;
    XWindows* windows_;
    std::optional<unsigned> page_;
    std::optional<unsigned> pages_;
    Done pending_;
    system::SdBusSlotPtr call_;
};

// Every Okular on the session bus, each by the name it has there for its process.
class OkularSource final : public ProgramSource {
public:
    OkularSource(sd_bus* bus, sd_event* loop);

    std::vector<Found> running() override;

private:
    void onName(const std::string& name, bool owned);

    sd_bus* bus_;
    std::unique_ptr<XWindows> windows_;
    std::map<std::string, std::pair<std::unique_ptr<Okular>, std::chrono::steady_clock::time_point>> running_;
    bus::NameWatch names_;
};

}  // namespace orbilatch::presenter::okular
