#pragma once
// bridge-sim's command line: what a run does and at what size.
#include <string>
#include <vector>

#include "Model.h"

namespace BridgeSim {

struct Options {
  std::string scenario;  // --scenario FILE
  std::string listen;    // --listen ADDRESS (SocketAddress.h)
  std::string mirror;    // --mirror ADDRESS
  std::string capture;   // --capture FILE
  std::vector<std::string> traces;  // --trace NAME=LEVELS, applied in order
  bool json = false;
  bool realTime = false;
  bool help = false;
  Sizes sizes;
};

// The largest sizes of the default set-up (--topologies, --ports, --vlans,
// --hosts), and of all topologies' ports together.
constexpr std::uint32_t maxTopologies = 1000;
constexpr std::uint32_t maxPorts = 65535;
constexpr std::uint32_t maxVlans = 4094;
constexpr std::uint64_t maxHosts = 10000000;
constexpr std::uint64_t maxPortEntries = 1000000;

// Reads the arguments; throws BadInput naming the option that is wrong, an
// empty value, or an option that does nothing in the mode chosen.
Options parseOptions(int argc, char** argv);
// Enables a trace handle from NAME=LEVELS (levels 0-15, comma-separated,
// or "all"); throws BadInput.
void applyTrace(std::string const& setting);
// The --help text.
std::string usage();

}  // namespace BridgeSim
