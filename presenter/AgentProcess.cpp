#include "presenter/AgentProcess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <system_error>

#include "system/WriteAll.h"

namespace orbilatch::presenter {
namespace {

struct Pipe {
    system::FileDescriptor read;
    system::FileDescriptor write;
};

Pipe makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    return {system::FileDescriptor(ends[0]), system::FileDescriptor(ends[1])};
}

// Reports errno through the error pipe, which exec's success closes unwritten.
[[noreturn]] void fail(int errorFd) {
    const int error = errno;
    [[maybe_unused]] auto written = ::write(errorFd, &error, sizeof error);
    ::_exit(127);
}

// Between fork and exec: only async-signal-safe calls.
[[noreturn]] void becomeAgent(const char* path, pid_t parent, Pipe& in, Pipe& out, Pipe& err, int errorFd) {
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail(errorFd);
    // The parent may have died before prctl took effect: then no signal comes.
    if (::getppid() != parent) ::_exit(0);
    // Terminal signals are for the presenter, which asks the agent to stop.
    if (::setpgid(0, 0) != 0) fail(errorFd);
    if (::dup2(in.read.get(), STDIN_FILENO) < 0 || ::dup2(out.write.get(), STDOUT_FILENO) < 0 ||
        ::dup2(err.write.get(), STDERR_FILENO) < 0) {
        fail(errorFd);
    }
    // The agent starts from a clean signal state: nothing blocked, SIGPIPE at
    // its default, whatever this program changed for itself.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    char* const argv[] = {const_cast<char*>(path), nullptr};
    ::execv(path, argv);
    fail(errorFd);
}

}  // namespace

AgentProcess::AgentProcess(const std::string& path) {
    Pipe in = makePipe();
    Pipe out = makePipe();
    Pipe err = makePipe();
    Pipe errors = makePipe();
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid_ == 0) becomeAgent(path.c_str(), parent, in, out, err, errors.write.get());

    errors.write.reset();
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(errors.read.get(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof childError) {
        ::waitpid(pid_, nullptr, 0);
        throw std::system_error(childError, std::generic_category(), path);
    }

    stdin_ = std::move(in.write);
    stdout_ = std::move(out.read);
    stderr_ = std::move(err.read);
}

bool AgentProcess::send(std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    return system::writeAll(stdin_.get(), text);
}

void AgentProcess::kill() { ::kill(pid_, SIGKILL); }

}  // namespace orbilatch::presenter
