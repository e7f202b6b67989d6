#include "presenter/impress/RemoteServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace orbilatch::presenter::impress {
namespace {

constexpr unsigned remotePort = 1599;
constexpr std::string_view listenState = "0A";
constexpr std::string_view clientName = "orbilatch-present";

std::string contentsOf(const std::filesystem::path& file) {
    std::ifstream stream(file);
    return {std::istreambuf_iterator<char>(stream), {}};
}

system::FileDescriptor connectTo(unsigned port) {
    system::FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 &&
        errno != EINPROGRESS) {
        socket.reset();
    }
    return socket;
}

bool isPin(std::string_view text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string newPin() {
    std::random_device random;
    const std::string digits = std::to_string(10000 + std::uniform_int_distribution<unsigned>(0, 9999)(random));
    return digits.substr(1);
}

}  // namespace

RemoteServer localRemoteServer() {
    return {[] {
                const uid_t user = ::getuid();
                return listensIn(contentsOf("/proc/net/tcp"), remotePort, user) ||
                       listensIn(contentsOf("/proc/net/tcp6"), remotePort, user);
            },
            [] { return connectTo(remotePort); }};
}

// A row: "sl: local-address:PORT remote-address:port st queues timer retransmits uid ...", in hexadecimal.
bool listensIn(std::string_view table, unsigned port, uid_t user) {
    std::istringstream rows{std::string(table)};
    std::string row;
    std::getline(rows, row);
    while (std::getline(rows, row)) {
        std::istringstream fields(row);
        std::string slot, local, remote, state, queues, timer, retransmits;
        unsigned long owner = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> owner;
        const auto colon = local.rfind(':');
        if (!fields || colon == std::string::npos || state != listenState || owner != user) continue;
        if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port) return true;
    }
    return false;
}

Pairing pairingKeptIn(const std::filesystem::path& file) {
    std::string pin = contentsOf(file);
    while (!pin.empty() && std::isspace(static_cast<unsigned char>(pin.back()))) pin.pop_back();
    if (!isPin(pin)) {
        pin = newPin();
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        // Without the file the PIN lasts this run only, and the next run asks for another pairing.
        if (system::FileDescriptor kept(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)); kept) {
            const std::string line = pin + '\n';
            [[maybe_unused]] const auto written = ::write(kept.get(), line.data(), line.size());
        }
    }
    return {std::string(clientName), pin};
}

std::filesystem::path pinFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = config && *config ? std::filesystem::path(config)
                                                          : std::filesystem::path(home ? home : ".") / ".config";
    return base / "orbilatch" / "impress-pin";
}

}  // namespace orbilatch::presenter::impress
