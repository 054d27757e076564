#pragma once
// BadInput is what the program throws for input it cannot act on: an
// unknown command or option, a malformed value, a topology, port or VLAN
// that does not exist. Its message speaks of the user's input; the caller
// adds the file and line (or the option) and exits with status 2.
#include <stdexcept>
#include <string>

namespace BridgeSim {

struct BadInput : std::runtime_error {
  explicit BadInput(std::string const& what) : std::runtime_error(what) {}
};

// Exit statuses: every check held; a check failed; the input was bad.
constexpr int exitHeld = 0;
constexpr int exitFailed = 1;
constexpr int exitBadInput = 2;

}  // namespace BridgeSim
