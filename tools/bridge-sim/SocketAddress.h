#pragma once
// Where --listen serves and --mirror connects: a Unix-domain socket path,
// or a TCP address HOST:PORT so that a replication can run between two
// machines (IPv6 hosts in brackets: [::1]:29710; HOST: alone means the
// default port). An address with a '/' is always a path: a socket file
// whose name looks like HOST:PORT is written ./NAME.
#include <cstdint>
#include <string>

namespace BridgeSim {

// bridge-sim's TCP port when an address gives none; the Wireshark
// dissector of attribute-log connections decodes it by default.
constexpr std::uint16_t defaultTcpPort = 29710;

struct SocketAddress {
  std::string option;  // the option that named it, for messages
  std::string text;    // as the user wrote it
  bool tcp = false;
  std::string host;    // TCP: the host, without brackets
  std::uint16_t port = 0;
  std::string path;    // Unix-domain: the socket file

  // Reads `text`; throws BadInput naming `option` for an empty path, a
  // path too long for a socket, or a port outside 0 to 65535.
  static SocketAddress parse(std::string const& option, std::string const& text);

  // A listening socket. A Unix-domain path left by a listener that is
  // gone (nothing accepts on it) is replaced, and `note` says so; a path
  // that another process serves, or that is not a socket, is refused.
  // `shown` is the address as peers reach it (with the port a TCP port 0
  // was given). Throws BadInput.
  int listenOn(std::string& shown, std::string& note) const;
  // A connected socket; throws BadInput saying why it cannot connect.
  int connectTo() const;
  // Whether a listener accepts connections here and keeps doing so: a
  // connection is made (given at most a second) and must stay open for
  // half a second.
  bool accepting() const;
};

}  // namespace BridgeSim
