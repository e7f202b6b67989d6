// presenter/Program.h
#pragma once
#include <optional>
#include <string_view>
#include "presenter/Route.h"
namespace orbilatch::presenter {
// Whether a program shows a presentation now, and where it is, as far as it tells.
struct Show {
    enum class State { running, stopped, unknown };
    State state = State::unknown;
    std::optional<unsigned> slide;   // 1-based
    std::optional<unsigned> slides;
};
// A presentation program that runs on this desktop and is driven directly.
class Program : public Route {
public:
    // "pdfpc", "okular", "impress": also the names --app takes.
    virtual std::string_view name() const = 0;
    virtual Show show() const = 0;
};
}  // namespace orbilatch::presenter
