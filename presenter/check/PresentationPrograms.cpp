#include "presenter/check/PresentationPrograms.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "system/SdPointers.h"

namespace orbilatch::presenter::check {
namespace {

bool isOkular(std::string_view name) {
    constexpr std::string_view prefix = "org.kde.okular-";
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
    return std::ranges::all_of(name.substr(prefix.size()), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<std::string> presentationPrograms(const std::vector<std::string>& busNames) {
    const auto runs = [&](auto matches) { return std::ranges::any_of(busNames, matches); };
    std::vector<std::string> found;
    if (runs([](std::string_view name) { return name == "io.github.pdfpc"; })) found.emplace_back("pdfpc");
    if (runs(isOkular)) found.emplace_back("Okular");
    return found;
}

ProgramFacts askSessionBus() {
    ProgramFacts facts;
    sd_bus* opened = nullptr;
    int r = sd_bus_open_user(&opened);
    SdBusPtr bus(opened);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (r >= 0) {
        r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "ListNames", &error, &reply, "");
    }
    SdBusMessagePtr owned(reply);
    char** names = nullptr;
    if (r >= 0) r = sd_bus_message_read_strv(reply, &names);
    // sd-bus's word for a user without a session bus
    if (r == -ENOMEDIUM) facts.unreachable = "there is none";
    else if (r < 0) facts.unreachable = error.message ? error.message : std::strerror(-r);
    sd_bus_error_free(&error);

    std::vector<std::string> busNames;
    for (char** name = names; name && *name; ++name) {
        busNames.emplace_back(*name);
        std::free(*name);
    }
    std::free(names);
    facts.running = presentationPrograms(busNames);
    return facts;
}

}  // namespace orbilatch::presenter::check
