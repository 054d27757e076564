// A host or a test drives the state reflector tree on the one event loop.
#include <cstdio>

#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "reflector/TopoStateReflector.h"

int main() {
  Kiv::eventLoop().reset();  // simulated time, now() == 0.0
  auto topoConfig = Bridging::Topology::Config::ConfigIs("topoConfig");
  auto topoStatus = Bridging::Topology::Inst::Status::StatusIs("topoStatus");
  auto brConfig = Bridging::Config::ConfigIs("brConfig");
  auto brStatus = Bridging::Status::StatusIs("brStatus");
  auto clock = Kiv::Clock::ClockIs("clock");

  // The factory's result is never null; holding it in a Kiv::Ptr lets the
  // host drop the tree when it is done.
  Kiv::Ptr<Bridging::StateReflector> root =
      Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  auto port = topoConfig->topoConfigIs("default")->topoPortConfigIs(Pyrel::IntfId("Ethernet1"));
  auto status = topoStatus->topoStatusIs("default")->topoPortStatusIs(Pyrel::IntfId("Ethernet1"));
  Kiv::eventLoop().advance(1e-6);  // the tree grows a reflector for the new port

  port->stateIs(Bridging::Topology::PortState::forwarding);
  Kiv::eventLoop().advance(1e-6);  // the status follows 2^-20 s later
  bool const followed = status->state() == Bridging::Topology::PortState::forwarding;
  std::printf("port status %s the configured state\n", followed ? "follows" : "does not follow");

  root = nullptr;  // tears the tree down
  return followed ? 0 : 1;
}
