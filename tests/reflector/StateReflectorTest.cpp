// The system reflector and its factory: topology reflectors follow the
// topologies that have both entries; and the whole tree from end to end.
#include <gtest/gtest.h>

#include "ReflectorFixture.h"

namespace ReflectorTesting {
namespace {

using Bridging::StateReflector;
using Bridging::stateReflectorFactory;

std::string entry(char const* handler, char const* args = "") { return entryTrace("StateReflector", handler, args); }

class SystemReflector : public ReflectorTest {
 protected:
  Kiv::Ptr<StateReflector> reflect() {
    return stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  }
};

TEST_F(SystemReflector, EmptyCollectionsGiveAnInitializedRootThatTracedItsConstruction) {
  auto root = reflect();
  EXPECT_TRUE(root->initialized());
  EXPECT_TRUE(root->hasNotificationActive());
  EXPECT_EQ(root->topoStateReflectors(), 0u);
  EXPECT_EQ(traces(), (Log{entry("handleTopoConfig"), entry("handleTopoStatus"), entry("handleInitialized"),
                           entry("handleCollectionChange")}));
}

// Topology reflectors follow the topologies that have both entries; they
// are neither refreshed nor made again with other parameters. Re-pointing
// a wrapped attribute runs a full pass, and a topology whose status cannot
// be found counts as gone.
TEST_F(SystemReflector, TopologyReflectorsFollowTheirEntriesAndAreNeitherRefreshedNorReinstantiated) {
  topoConfig->topoConfigIs("red");
  topoStatus->topoStatusIs("red");
  auto const blue = topoConfig->topoConfigIs("blue");
  topoStatus->topoStatusIs("green");
  auto root = reflect();
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Creating new state reflector for red"});
  ASSERT_TRUE(root->topoStateReflector("red"));
  EXPECT_EQ(root->topoStateReflector("red")->brTopoConfig(), topoConfig);

  auto const blueStatus = topoStatus->topoStatusIs("blue");
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Creating new state reflector for blue"});
  topoConfig->topoConfigDel("red");
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Deleting state reflector for red"});
  topoStatus->topoStatusDel("red");
  EXPECT_EQ(traces(7), Log{});

  auto const member = root->topoStateReflector("blue");
  topoConfig->topoConfigIs(Kiv::make<Bridging::Topology::TopoConfig>("blue"));
  EXPECT_EQ(member->topoConfig(), blue);
  EXPECT_EQ(root->topoStateReflectorIs("blue", blue, blueStatus, brConfig, brStatus, topoConfig, clock), member);
  EXPECT_EQ(nameInUseMessage([&] {
              root->topoStateReflectorIs("blue", blue, blueStatus, brConfig, brStatus, topoConfig,
                                         Kiv::Clock::ClockIs("c2"));
            }),
            "Reinstantiating the pointer interface where constructor parameter attribute _clock has a different "
            "value of 'c2' than the current value of 'clock' not allowed");
  EXPECT_EQ(root->topoStateReflector("blue"), member);
  EXPECT_EQ(member->clock(), clock);

  traces();
  root->configIs(Bridging::Topology::Config::ConfigIs("other"));
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Deleting state reflector for blue"});
  root->configIs(topoConfig);
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Creating new state reflector for blue"});
  EXPECT_EQ(root->statusDel(), topoStatus);
  root->handleTopoConfig("blue");
  EXPECT_EQ(traces(7), Log{"7 doSyncTopo: Deleting state reflector for blue"});

  root->initializedIs(false);
  root->handleTopoConfig("green");
  EXPECT_EQ(traces(), Log{entry("handleTopoConfig", "Kiv::String")});
}

// Two topologies of three ports each (Ethernet1 in both), VLANs in both,
// hosts learned on several ports and VLANs: the whole tree from the
// factory.
TEST_F(SystemReflector, TheTreeReflectsStateAndFlushesFollowsTheModelAndTearsDownCompletely) {
  for (char const* name : {"Ethernet1", "Ethernet2", "Ethernet3"}) port("red", name);
  for (char const* name : {"Ethernet1", "Ethernet4", "Ethernet5"}) port("blue", name);
  vlan(10, "red");
  vlan(11, "red");
  vlan(20, "blue");
  learn({{10, 1, "Ethernet1"}, {10, 2, "Ethernet2"}, {11, 3, "Ethernet1"}, {20, 4, "Ethernet1"}, {20, 5, "Ethernet4"}});
  auto portStatus = [&](char const* topo, char const* name) {
    return topoStatus->topoStatus(topo)->topoPortStatus(intf(name));
  };
  auto root = reflect();
  ASSERT_EQ(root->topoStateReflectors(), 2u);
  EXPECT_EQ(root->topoStateReflector("red")->topoPortStateReflectors(), 3u);
  EXPECT_EQ(root->topoStateReflector("blue")->topoPortStateReflectors(), 3u);
  runUntil(1.0);

  port("blue", "Ethernet4").first->stateIs(PortState::forwarding);
  runUntil(1.0 + delay / 2);
  EXPECT_EQ(portStatus("blue", "Ethernet4")->state(), PortState::disabled);
  runUntil(1.0 + delay);
  EXPECT_EQ(portStatus("blue", "Ethernet4")->state(), PortState::forwarding);
  EXPECT_EQ(portStatus("red", "Ethernet1")->state(), PortState::disabled);

  port("red", "Ethernet1").first->fdbFlushIs(6);
  EXPECT_EQ(hosts(10), Log{"10:2"});
  EXPECT_EQ(hosts(11), Log{});
  EXPECT_EQ(hosts(20), (Log{"20:4", "20:5"})) << "VLAN 20 belongs to the other topology";
  EXPECT_EQ(portStatus("red", "Ethernet1")->fdbFlushReport(), 0u);
  runUntil(2.0);
  EXPECT_EQ(portStatus("red", "Ethernet1")->fdbFlushReport(), 6u);
  EXPECT_EQ(portStatus("blue", "Ethernet1")->fdbFlushReport(), 0u);

  port("green", "Ethernet7");
  ASSERT_TRUE(root->topoStateReflector("green"));
  EXPECT_TRUE(root->topoStateReflector("green")->topoPortStateReflector(intf("Ethernet7")));
  port("red", "Ethernet8");
  EXPECT_EQ(root->topoStateReflector("red")->topoPortStateReflectors(), 4u);
  topoStatus->topoStatus("red")->topoPortStatusDel(intf("Ethernet2"));
  EXPECT_EQ(root->topoStateReflector("red")->topoPortStateReflectors(), 3u);
  topoConfig->topoConfigDel("blue");
  EXPECT_FALSE(root->topoStateReflector("blue"));

  // Nothing observes the model or waits on the clock once the root goes.
  root = nullptr;
  EXPECT_EQ(Kiv::eventLoop().pending(), 0u);
  EXPECT_TRUE(clock->kivNotifieeList().empty());
  EXPECT_TRUE(topoConfig->kivNotifieeList().empty());
  EXPECT_TRUE(brConfig->kivNotifieeList().empty());
  for (auto t = topoConfig->topoConfigIteratorConst(); t; ++t) {
    EXPECT_TRUE(t->kivNotifieeList().empty());
    for (auto p = t->topoPortConfigIteratorConst(); p; ++p) EXPECT_TRUE(p->kivNotifieeList().empty());
  }
}

}  // namespace
}  // namespace ReflectorTesting
