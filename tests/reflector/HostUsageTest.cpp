// The host usage shown in the README, kept compiling and true.
#include <gtest/gtest.h>

#include "Kiv/Clock.h"
#include "Kiv/EventLoop.h"
#include "Lumo/Bridging.h"
#include "Lumo/Topology.h"
#include "reflector/TopoStateReflector.h"

namespace {

TEST(HostUsage, ReadmeExampleReflectsAConfiguredStateChange) {
  Kiv::eventLoop().reset();
  auto topoConfig = Bridging::Topology::Config::ConfigIs("topoConfig");
  auto topoStatus = Bridging::Topology::Inst::Status::StatusIs("topoStatus");
  auto brConfig = Bridging::Config::ConfigIs("brConfig");
  auto brStatus = Bridging::Status::StatusIs("brStatus");
  auto clock = Kiv::Clock::ClockIs("clock");

  auto root = Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  auto port = topoConfig->topoConfigIs("default")->topoPortConfigIs(Pyrel::IntfId("Ethernet1"));
  auto status = topoStatus->topoStatusIs("default")->topoPortStatusIs(Pyrel::IntfId("Ethernet1"));
  Kiv::eventLoop().advance(1e-6);
  port->stateIs(Bridging::Topology::PortState::forwarding);
  EXPECT_EQ(status->state(), Bridging::Topology::PortState::disabled);
  Kiv::eventLoop().advance(1e-6);  // the status follows 2^-20 s later
  EXPECT_EQ(status->state(), Bridging::Topology::PortState::forwarding);
}

}  // namespace
