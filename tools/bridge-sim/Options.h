#pragma once
// bridge-sim's command line: what a run does and at what size.
#include <string>
#include <vector>

#include "Model.h"

namespace BridgeSim {

struct Options {
  std::string scenario;  // --scenario FILE
  std::string listen;    // --listen PATH
  std::string mirror;    // --mirror PATH
  std::string capture;   // --capture FILE
  std::vector<std::string> traces;  // --trace NAME=LEVELS, applied in order
  bool json = false;
  bool realTime = false;
  bool help = false;
  Sizes sizes;
};

// Reads the arguments; throws BadInput naming the option that is wrong.
Options parseOptions(int argc, char** argv);
// Enables a trace handle from NAME=LEVELS (levels 0-15, comma-separated,
// or "all"); throws BadInput.
void applyTrace(std::string const& setting);
// The --help text.
std::string usage();

}  // namespace BridgeSim
