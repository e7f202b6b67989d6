#include "presenter/Display.h"

#include <unistd.h>

#include <cerrno>

namespace orbilatch::presenter {
namespace {

constexpr std::string_view clearLine = "\r\033[K";

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

Display::~Display() {
    if (mode_ == Mode::Terminal && !shown_.empty()) writeAll(STDOUT_FILENO, "\n");
}

void Display::show(const Status& status) {
    if (mode_ == Mode::Json) return;
    shown_ = describe(status);
    writeAll(STDOUT_FILENO, mode_ == Mode::Terminal ? std::string(clearLine) + shown_ : shown_ + "\n");
}

void Display::event(std::string_view line) {
    if (mode_ == Mode::Json) writeAll(STDOUT_FILENO, std::string(line) + "\n");
}

void Display::diagnostic(std::string_view text) {
    if (mode_ == Mode::Terminal) writeAll(STDOUT_FILENO, clearLine);
    writeAll(STDERR_FILENO, std::string(text) + "\n");
    if (mode_ == Mode::Terminal) writeAll(STDOUT_FILENO, shown_);
}

}  // namespace orbilatch::presenter
