#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "presenter/Program.h"
#include "presenter/ProgramSource.h"

namespace orbilatch::presenter {

// Where the next command goes, chosen anew for each one.
class RouteChoice {
public:
    virtual ~RouteChoice() = default;
    virtual Route& choose() = 0;
};

// Among the programs running now: the one showing a presentation, then one
// that may be (its show cannot be seen), then any; between equals the one
// that carried the last command out, then the one found most recently. With
// none running, the keys. A forced program that is not running fails each
// command.
class ProgramChoice final : public RouteChoice {
public:
    static constexpr std::string_view keysName = "keys";

    // app: empty to choose, keysName or a program's name to force it.
    ProgramChoice(std::vector<ProgramSource*> sources, Route& keys, std::string app);

    Route& choose() override;

private:
    // Stands in for a forced program that is not running.
    class Absent final : public Program {
    public:
        explicit Absent(std::string name) : name_(std::move(name)) {}
        void carryOut(protocol::Command command, Done done) override;
        std::string description() const override { return name_ + " is not running"; }
        std::string_view name() const override { return name_; }
        Show show() const override { return {Show::State::stopped, {}, {}}; }

    private:
        std::string name_;
    };

    std::vector<ProgramSource*> sources_;
    Route& keys_;
    std::string app_;
    Absent absent_;
    Found usedLast_{nullptr, {}};
};

}  // namespace orbilatch::presenter
