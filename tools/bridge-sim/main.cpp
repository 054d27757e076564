// bridge-sim: the project's host program, a simulated bridging agent that
// runs the library on the runtime's event loop (see Options.cpp for what
// it does and DefaultRun.h, Scenario.h, SocketModes.h for how).
#include <fstream>
#include <iostream>

#include <unistd.h>

#include "Account.h"
#include "BadInput.h"
#include "Capture.h"
#include "DefaultRun.h"
#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"
#include "MirrorProcess.h"
#include "Options.h"
#include "Scenario.h"
#include "SocketModes.h"

using namespace BridgeSim;

namespace {

int runScenario(Options const& o, Model& model, Capture& capture) {
  std::ifstream in(o.scenario);
  if (!in) throw BadInput("--scenario " + o.scenario + ": cannot read the file");
  Scenario const scenario = Scenario::parse(in, o.scenario);
  Account account(std::cout, o.json);
  int status;
  {
    MirrorProcess mirror(model, capture);
    ScenarioRun run(model, mirror, account);
    status = run.run(scenario.steps(), std::cerr);
    if (mirror.running()) account.check(mirror.stop(), "mirror process exit", "status 0", "another status");
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
    if (!o.mirror.empty()) return mirrorMain(o.mirror);
    Kiv::eventLoop().realTimeIs(o.realTime);
    Capture capture(o.capture);
    Model model;
    if (!o.listen.empty()) return listenMain(o.listen, model, o.sizes, capture);
    if (!o.scenario.empty()) return runScenario(o, model, capture);
    Account account(std::cout, o.json);
    int const status = defaultRun(model, o.sizes, account, capture, ::isatty(2) && o.sizes.hosts >= 100000);
    capture.write();
    return status;
  } catch (BadInput const& e) {
    std::cerr << "bridge-sim: " << e.what() << std::endl;
  } catch (ScenarioError const& e) {
    std::cerr << e.what() << std::endl;
  } catch (Kiv::Exception const& e) {
    std::cerr << "bridge-sim: " << e.message().stdString() << std::endl;
  }
  return exitBadInput;
}
