// A peer that is not an attribute log, for bridge-sim --mirror to meet:
// listens at ADDRESS, accepts one connection, writes the bytes given in
// hex and closes it.
//   not-an-attribute-log ADDRESS HEX     e.g. ffffffff (a bad frame length)
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "BadInput.h"
#include "SocketAddress.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: not-an-attribute-log ADDRESS HEX" << std::endl;
    return 2;
  }
  try {
    std::string shown, note;
    int const listener = BridgeSim::SocketAddress::parse("ADDRESS", argv[1]).listenOn(shown, note);
    std::cout << "listening on " << shown << std::endl;
    std::string bytes;
    for (std::string const hex = argv[2]; bytes.size() * 2 + 1 < hex.size();) {
      bytes += static_cast<char>(std::stoi(hex.substr(bytes.size() * 2, 2), nullptr, 16));
    }
    int const fd = ::accept(listener, nullptr, nullptr);
    bool const written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    ::close(listener);
    if (std::string(argv[1]).find(':') == std::string::npos) ::unlink(argv[1]);
    return written ? 0 : 1;
  } catch (BridgeSim::BadInput const& e) {
    std::cerr << e.what() << std::endl;
    return 2;
  }
}
