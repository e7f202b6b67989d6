#include "presenter/Display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "system/WriteAll.h"

namespace orbilatch::presenter {
namespace {

constexpr std::string_view clearLine = "\r\033[K";

// A line longer than the terminal would wrap, and only its last row would be
// rewritten.
std::string fitTerminal(std::string line) {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && line.size() >= size.ws_col) {
        line.resize(size.ws_col - 1);
    }
    return line;
}

}  // namespace

Display::~Display() {
    if (mode_ == Mode::terminal && !shown_.empty()) system::writeAll(STDOUT_FILENO, "\n");
}

void Display::show(const Status& status) {
    if (mode_ == Mode::json) return;
    if (mode_ == Mode::lines) {
        system::writeAll(STDOUT_FILENO, describe(status) + "\n");
        return;
    }
    shown_ = fitTerminal(describe(status));
    system::writeAll(STDOUT_FILENO, std::string(clearLine) + shown_);
}

void Display::event(std::string_view line) {
    if (mode_ == Mode::json) system::writeAll(STDOUT_FILENO, std::string(line) + "\n");
}

void Display::diagnostic(std::string_view text) {
    if (mode_ == Mode::terminal) system::writeAll(STDOUT_FILENO, clearLine);
    system::writeAll(STDERR_FILENO, std::string(text) + "\n");
    if (mode_ == Mode::terminal) system::writeAll(STDOUT_FILENO, shown_);
}

}  // namespace orbilatch::presenter
