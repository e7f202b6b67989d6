#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "system/FileDescriptor.h"

namespace orbilatch::presenter::impress {

// Where Impress's remote server is, and how to find out whether it is there.
struct RemoteServer {
    // Whether it listens now. Looking must not connect: the server reads a new
    // client's first message before it accepts the next one.
    std::function<bool()> listens;
    // A non-blocking socket connecting to it; closed when no socket could be had.
    std::function<system::FileDescriptor()> connect;
};

// The server of this user's LibreOffice on this machine, TCP port 1599.
RemoteServer localRemoteServer();

// Whether one of the kernel's tables of TCP sockets (/proc/net/tcp or tcp6)
// lists a socket of the user listening on the port.
bool listensIn(std::string_view table, unsigned port, uid_t user);

// How Impress knows this program: a name, and a PIN that the user types into
// Impress once.
struct Pairing {
    std::string name;
    std::string pin;
};

// This user's pairing. The PIN, four digits (all Impress takes), is made up
// the first time and kept in the file, so that one pairing lasts; a user may
// write four digits of their own there.
Pairing pairingKeptIn(const std::filesystem::path& file);
// $XDG_CONFIG_HOME/orbilatch/impress-pin, or its default under $HOME.
std::filesystem::path pinFile();

}  // namespace orbilatch::presenter::impress
