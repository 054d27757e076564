#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "BadInput.h"
#include "Kiv/Trace.h"
#include "Scenario.h"
#include "SocketAddress.h"

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
  std::string sizing, json, realTime;  // the first such option given
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    // A value; an empty one (a script's unset variable) is refused, since
    // a run that quietly did the default instead would pass for the wrong reason.
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw BadInput(arg + ": expected a value after it");
      std::string const v = argv[++i];
      if (v.empty()) throw BadInput(arg + ": expected a value, found an empty one");
      return v;
    };
    auto size = [&](std::uint64_t max) {
      if (sizing.empty()) sizing = arg;
      return count(arg, value(), max);
    };
    if (arg == "--help" || arg == "-h") o.help = true;
    else if (arg == "--scenario") o.scenario = value();
    else if (arg == "--listen") o.listen = value();
    else if (arg == "--mirror") o.mirror = value();
    else if (arg == "--capture") o.capture = value();
    else if (arg == "--trace") o.traces.push_back(value());
    else if (arg == "--json") o.json = true, json = arg;
    else if (arg == "--real-time") o.realTime = true, realTime = arg;
    else if (arg == "--topologies") o.sizes.topologies = static_cast<std::uint32_t>(size(maxTopologies));
    else if (arg == "--ports") o.sizes.ports = static_cast<std::uint32_t>(size(maxPorts));
    else if (arg == "--vlans") o.sizes.vlans = static_cast<std::uint32_t>(size(maxVlans));
    else if (arg == "--hosts") o.sizes.hosts = size(maxHosts);
    else throw BadInput("unknown option " + arg + " (see bridge-sim --help)");
  }
  int const modes = !o.scenario.empty() + !o.listen.empty() + !o.mirror.empty();
  if (modes > 1) throw BadInput("--scenario, --listen and --mirror are used one at a time");
  std::uint64_t const portEntries = std::uint64_t(o.sizes.topologies) * o.sizes.ports;
  if (portEntries > maxPortEntries) {
    throw BadInput("--topologies " + std::to_string(o.sizes.topologies) + " with --ports " + std::to_string(o.sizes.ports) +
                   ": " + std::to_string(portEntries) + " port entries, more than " + std::to_string(maxPortEntries));
  }
  // Options that would do nothing in the mode chosen are refused.
  auto doesNotApply = [](std::string const& option, std::string const& mode, char const* why) {
    if (!option.empty()) throw BadInput(option + " does not apply to " + mode + ": " + why);
  };
  if (!o.scenario.empty()) doesNotApply(sizing, "--scenario", "the scenario builds its own set-up");
  if (!o.mirror.empty()) {
    doesNotApply(sizing, "--mirror", "the model comes from the listener");
    doesNotApply(json, "--mirror", "it prints changes, not an account");
    doesNotApply(realTime, "--mirror", "it always runs on real time");
  }
  if (!o.listen.empty()) {
    doesNotApply(json, "--listen", "it serves until 'quit' and gives no account");
    doesNotApply(realTime, "--listen", "it always runs on real time");
  }
  for (auto const& t : o.traces) applyTrace(t);
  return o;
}

void applyTrace(std::string const& setting) {
  std::size_t const eq = setting.find('=');
  if (eq == std::string::npos || eq == 0) throw BadInput("--trace " + setting + ": expected NAME=LEVELS, e.g. TopoStateReflector=3,7");
  std::string const levels = setting.substr(eq + 1);
  int const top = Kiv::TraceHandle::levelCount - 1;
  std::uint16_t mask = 0;
  if (levels == "all") {
    mask = Kiv::TraceHandle::allLevels;
  } else {
    std::stringstream in(levels);
    for (std::string level; std::getline(in, level, ',');) {
      mask = static_cast<std::uint16_t>(mask | (1u << count("--trace " + setting + ": level", level, top)));
    }
    if (mask == 0) {
      throw BadInput("--trace " + setting + ": expected levels from 0 to " + std::to_string(top) +
                     ", comma-separated, or all");
    }
  }
  std::string const name = setting.substr(0, eq);
  auto const known = Kiv::TraceHandle::names();
  if (std::find(known.begin(), known.end(), Kiv::String8(name)) == known.end()) {
    std::string list;
    for (auto const& k : known) list += (list.empty() ? "" : ", ") + k.stdString();
    std::cerr << "bridge-sim: warning: --trace " << setting << ": no trace handle " << name
              << " is registered (the handles: " << list << ")" << std::endl;
  }
  Kiv::TraceHandle::configure(name, true, mask);
}

// Where the example scenarios are: installed beside the program
// (PREFIX/bin/bridge-sim, PREFIX/share/...), else in the source tree this
// program was built from.
std::string exampleScenarios() {
  char exe[4096];
  ssize_t const n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  struct stat st {};
  if (n > 0) {
    std::string const bin(exe, static_cast<std::size_t>(n));
    std::string const installed = bin.substr(0, bin.rfind('/')) + "/../" BTS_SCENARIO_INSTALL_DIR;
    char real[4096];
    if (::realpath(installed.c_str(), real) && ::stat(real, &st) == 0 && S_ISDIR(st.st_mode)) return real;
  }
  if (::stat(BTS_SCENARIO_SOURCE_DIR, &st) == 0 && S_ISDIR(st.st_mode)) return BTS_SCENARIO_SOURCE_DIR;
  return "PREFIX/" BTS_SCENARIO_INSTALL_DIR " (not found beside this program)";
}

// `text` in lines of at most 76 columns, each starting with `indent`.
std::string wrapped(std::string const& text, std::string const& indent) {
  std::string out, line = indent;
  std::istringstream words(text);
  for (std::string w; words >> w;) {
    if (line.size() > indent.size() && line.size() + 1 + w.size() > 76) {
      out += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + w;
  }
  return out + line;
}

std::string usage() {
  std::string const port = std::to_string(defaultTcpPort);
  return R"(usage: bridge-sim [OPTIONS]

A simulated bridging agent that runs the state reflector tree and the
agent model of libBridgingTestSupport.so on the runtime's event loop.

Without --scenario, --listen or --mirror it runs the default set-up: it
builds the model, reflects a state on every port, carries out a flush,
makes a topology appear and vanish, then forks a process that mirrors the
agent's Config and Status over the attribute log, sends a change each way,
and ends with a line saying whether every check held.

OPTIONS
  --scenario FILE      run the set-up written in FILE (see below)
  --listen ADDRESS     serve the agent model (the default set-up, sized by
                       the options below) at ADDRESS to every peer that
                       connects; scenario commands may be typed on standard
                       input; 'quit' or an interrupt ends it in order
  --mirror ADDRESS     connect to a --listen ADDRESS, mirror the agent model
                       and print each change as it arrives, until interrupted
                       or the connection ends
  --capture FILE       write the attribute-log bytes the run sends to FILE
                       (for kiv-log to decode); opened before the run starts,
                       written when it ends
  --trace NAME=LEVELS  enable a trace handle at the given levels (0-9,
                       comma-separated, or all), e.g. TopoStateReflector=3,7;
                       traces go to standard error; may be repeated; a name
                       that no handle has is warned of, with the names known
  --json               print the closing account as one JSON object
  --real-time          run the event loop on the monotonic clock instead of
                       simulated time (simulated time is reproducible)
  --topologies N       topologies of the default set-up (default 2, at most )" +
         std::to_string(maxTopologies) + R"()
  --ports N            ports in each topology, one tap device per port number
                       (default 8, at most )" +
         std::to_string(maxPorts) + R"(; at most )" + std::to_string(maxPortEntries) + R"( port
                       entries in all topologies))
  --vlans N            VLANs, mapped to the topologies in turn (default 4,
                       at most )" +
         std::to_string(maxVlans) + R"()
  --hosts N            learned hosts, spread over the VLANs and ports
                       (default 64, at most )" +
         std::to_string(maxHosts) + R"(); a set-up that does not
                       fit in memory ends with one line and exit status 2
  --help               this text

  The sizes apply to the default set-up and --listen; --json and
  --real-time to the default set-up and --scenario; an option that does
  not apply to the mode chosen is refused, and so is an empty value.

ADDRESSES
  ADDRESS is a Unix-domain socket path (agent.sock), or HOST:PORT for TCP
  (127.0.0.1:)" + port + R"(, [::1]:)" + port + R"(); HOST: alone means bridge-sim's port,
  )" + port + R"(. A path with a '/' is always a path: write ./NAME for a socket file
  named like HOST:PORT. --listen replaces a socket file left by a listener
  that is gone (nothing accepts on it) and refuses one that is served or a
  path that is not a socket; with port 0 it prints the port it got.

  --listen accepts these commands on standard input, one a line:
)" + wrapped(listenCommands() + ".", "    ") + R"(
  advance, mirror ... and 'expect mirror' are refused (its event loop runs
  on real time, without a mirror process).

EXIT STATUS
  0  every check held; 1  a check or expectation failed;
  2  bad input: an unknown option or command, a malformed or empty value,
     an option that does not apply, a topology, port, state or VLAN that
     does not exist, a file that cannot be read or written, a socket that
     cannot be bound or reached, a set-up too large. One line on standard
     error names the option, or the file and line.
  --mirror: 0 when interrupted or when the listener ended in order; 1 when
     the connection broke (a malformed or truncated frame, a reset) or the
     listener died; 2 for bad input as above.

EXAMPLE SCENARIOS
  )" + exampleScenarios() + R"(

)" + scenarioHelp;
}

}  // namespace BridgeSim
