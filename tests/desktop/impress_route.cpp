// The Impress route alone: carries out each command named on a line of
// standard input and prints its answer and then the show, such as
// "executed 2/5", "AT_FIRST_SLIDE 1/5" or "PRESENTATION_ENDED stopped".
#include <cstdio>

#include "presenter/impress/ImpressProgram.h"
#include "system/EventLoop.h"
#include "system/StdinReader.h"

int main() {
    using namespace orbilatch::presenter;
    orbilatch::EventLoop loop;
    impress::ImpressProgram impress(loop.handle(), loop, impress::localRemoteServer(),
                                    impress::pairingKeptIn(impress::pinFile()));
    const auto print = [&impress](Carried carried) {
        const Show show = impress.show();
        const std::string where = show.state == Show::State::running
                                      ? std::to_string(*show.slide) + "/" + std::to_string(*show.slides)
                                      : show.state == Show::State::stopped ? "stopped" : "unknown";
        std::printf("%s %s\n", carried.failure ? carried.failure->code.c_str() : "executed", where.c_str());
        std::fflush(stdout);
    };
    orbilatch::startStdinReader([&](std::vector<std::string>& lines) {
        for (const auto& line : lines) {
            loop.post([&, line] { impress.carryOut(*orbilatch::protocol::commandNamed(line), print); });
        }
    }).detach();
    return loop.run();
}
