// bridge-sim: the project's host program, a simulated bridging agent that
// runs the library on the runtime's event loop (see Options.cpp for what
// it does and DefaultRun.h, Scenario.h, SocketModes.h for how).
#include <fstream>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "Account.h"
#include "BadInput.h"
#include "Capture.h"
#include "DefaultRun.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "MirrorProcess.h"
#include "Options.h"
#include "Scenario.h"
#include "SocketAddress.h"
#include "SocketModes.h"
#include "Tokens.h"

using namespace BridgeSim;

namespace {

int runScenario(Options const& o, Model& model, Capture& capture) {
  struct stat st {};
  if (::stat(o.scenario.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    throw BadInput("--scenario " + o.scenario + ": a folder, not a scenario file");
  }
  std::ifstream in(o.scenario);
  if (!in) throw BadInput("--scenario " + o.scenario + ": cannot read the file");
  Scenario const scenario = Scenario::parse(in, o.scenario);
  Account account(std::cout, o.json);
  int status;
  {
    MirrorProcess mirror(model, capture);
    ScenarioRun run(model, mirror, account);
    status = run.run(scenario.steps(), std::cerr);
    if (mirror.running()) account.check(mirror.end(), "mirror process exit", "status 0", "another status");
  }
  int const closing = account.finish();
  capture.write();
  return status != exitHeld ? status : closing;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options const o = parseOptions(argc, argv);
    if (o.help) {
      std::cout << usage();
      return exitHeld;
    }
    // Every address and output is checked before the run starts.
    SocketAddress const listen = o.listen.empty() ? SocketAddress() : SocketAddress::parse("--listen", o.listen);
    SocketAddress const mirror = o.mirror.empty() ? SocketAddress() : SocketAddress::parse("--mirror", o.mirror);
    Capture capture(o.capture);
    if (!o.mirror.empty()) return mirrorMain(mirror, capture);
    Kiv::eventLoop().realTimeIs(o.realTime);
    Model model;
    if (!o.listen.empty()) return listenMain(listen, model, o.sizes, capture);
    if (!o.scenario.empty()) return runScenario(o, model, capture);
    Account account(std::cout, o.json);
    int const status = defaultRun(model, o.sizes, account, capture, ::isatty(2) && o.sizes.hosts >= 100000);
    capture.write();
    return status;
  } catch (BadInput const& e) {
    std::cerr << "bridge-sim: " << printable(e.what()) << std::endl;
  } catch (ScenarioError const& e) {
    std::cerr << e.what() << std::endl;
  } catch (Kiv::Exception const& e) {
    std::cerr << "bridge-sim: " << printable(e.message().stdString()) << std::endl;
  } catch (std::bad_alloc const&) {
    std::cerr << "bridge-sim: out of memory: the set-up is too large for this machine (see the sizes in bridge-sim "
                 "--help)"
              << std::endl;
  }
  return exitBadInput;
}
