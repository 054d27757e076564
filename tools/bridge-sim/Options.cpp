#include "Options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "BadInput.h"
#include "Kiv/Trace.h"
#include "Scenario.h"

namespace BridgeSim {

namespace {

std::uint64_t count(std::string const& option, std::string const& text, std::uint64_t max) {
  char* end = nullptr;
  errno = 0;
  unsigned long long const v = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 || v > max) {
    throw BadInput(option + " " + text + ": expected a whole number from 0 to " + std::to_string(max));
  }
  return v;
}

}  // namespace

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw BadInput(arg + ": expected a value after it");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") o.help = true;
    else if (arg == "--scenario") o.scenario = value();
    else if (arg == "--listen") o.listen = value();
    else if (arg == "--mirror") o.mirror = value();
    else if (arg == "--capture") o.capture = value();
    else if (arg == "--trace") o.traces.push_back(value());
    else if (arg == "--json") o.json = true;
    else if (arg == "--real-time") o.realTime = true;
    else if (arg == "--topologies") o.sizes.topologies = static_cast<std::uint32_t>(count(arg, value(), 1000));
    else if (arg == "--ports") o.sizes.ports = static_cast<std::uint32_t>(count(arg, value(), 65535));
    else if (arg == "--vlans") o.sizes.vlans = static_cast<std::uint32_t>(count(arg, value(), 4094));
    else if (arg == "--hosts") o.sizes.hosts = count(arg, value(), 1ull << 32);
    else throw BadInput("unknown option " + arg + " (see bridge-sim --help)");
  }
  int const modes = !o.scenario.empty() + !o.listen.empty() + !o.mirror.empty();
  if (modes > 1) throw BadInput("--scenario, --listen and --mirror are used one at a time");
  for (auto const& t : o.traces) applyTrace(t);
  return o;
}

void applyTrace(std::string const& setting) {
  std::size_t const eq = setting.find('=');
  if (eq == std::string::npos || eq == 0) throw BadInput("--trace " + setting + ": expected NAME=LEVELS, e.g. TopoStateReflector=3,7");
  std::string const levels = setting.substr(eq + 1);
  std::uint16_t mask = 0;
  if (levels == "all") {
    mask = 0xFFFF;
  } else {
    std::stringstream in(levels);
    for (std::string level; std::getline(in, level, ',');) {
      mask = static_cast<std::uint16_t>(mask | (1u << count("--trace " + setting + ": level", level, 15)));
    }
    if (mask == 0) throw BadInput("--trace " + setting + ": expected levels from 0 to 15, comma-separated, or all");
  }
  Kiv::TraceHandle::configure(setting.substr(0, eq), true, mask);
}

std::string usage() {
  return std::string(R"(usage: bridge-sim [OPTIONS]

A simulated bridging agent that runs the state reflector tree and the
agent model of libBridgingTestSupport.so on the runtime's event loop.

Without --scenario, --listen or --mirror it runs the default set-up: it
builds the model, reflects a state on every port, carries out a flush,
makes a topology appear and vanish, then forks a process that mirrors the
agent's Config and Status over the attribute log, sends a change each way,
and ends with a line saying whether every check held.

OPTIONS
  --scenario FILE      run the set-up written in FILE (see below)
  --listen PATH        serve the agent model on the Unix-domain socket PATH
                       to every peer that connects; scenario commands may be
                       typed on standard input; 'quit' or an interrupt ends it
  --mirror PATH        connect to a --listen socket, mirror the agent model
                       and print each change as it arrives, until interrupted
                       or the connection ends
  --capture FILE       write the attribute-log bytes the run sends to FILE
                       (for kiv-log to decode); written when the run ends
  --trace NAME=LEVELS  enable a trace handle at the given levels (0-15,
                       comma-separated, or all), e.g. TopoStateReflector=3,7;
                       traces go to standard error; may be repeated
  --json               print the closing account as one JSON object
  --real-time          run the event loop on the monotonic clock instead of
                       simulated time (simulated time is reproducible)
  --topologies N       topologies of the default set-up (default 2)
  --ports N            ports in each topology (default 8)
  --vlans N            VLANs, mapped to the topologies in turn (default 4)
  --hosts N            learned hosts, spread over the VLANs and ports (default 64)
  --help               this text

EXIT STATUS
  0  every check held; 1  a check or expectation failed;
  2  bad input: an unknown option or command, a malformed value, a topology,
     port, state or VLAN that does not exist, a file that cannot be read,
     a socket that cannot be bound. One line on standard error names the
     option, or the file and line.

)") + scenarioHelp;
}

}  // namespace BridgeSim
