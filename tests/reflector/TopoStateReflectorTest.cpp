// The topology reflector: its port reflectors follow the ports that have
// both entries, its full pass and the reinstantiation error.
#include <gtest/gtest.h>

#include <algorithm>

#include "ReflectorFixture.h"

namespace ReflectorTesting {
namespace {

using Bridging::TopoStateReflector;

class TopoReflector : public ReflectorTest {
 protected:
  void SetUp() override {
    ReflectorTest::SetUp();
    port("red", "Ethernet1");
    port("red", "Ethernet3");
    red->topoPortConfigIs(intf("Ethernet2"));  // configured only
  }
  Kiv::Ptr<TopoStateReflector> reflect() {
    return Kiv::make<TopoStateReflector>("red", red, redStatus, brConfig, brStatus, topoConfig, clock);
  }

  Kiv::Ptr<Bridging::Topology::TopoConfig> red = topoConfig->topoConfigIs("red");
  Kiv::Ptr<Bridging::Topology::Inst::TopoStatus> redStatus = topoStatus->topoStatusIs("red");
};

TEST_F(TopoReflector, ConstructionReflectsPortsWithBothEntriesWhichReinstantiationOnlyFinds) {
  auto r = reflect();
  EXPECT_FALSE(r->hasNotificationActive());
  Log made = traces(7);
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, (Log{"7 doSyncPort: Creating new state reflector for port Ethernet1",
                       "7 doSyncPort: Creating new state reflector for port Ethernet3"}));
  EXPECT_EQ(r->topoPortStateReflectors(), 2u);
  auto p = r->topoPortStateReflector(intf("Ethernet1"));
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->hasNotificationActive());

  // Reinstantiation with the parameters it was made with (one clock serving
  // both) finds the member; the first differing parameter is named and
  // nothing changes.
  auto c = red->topoPortConfig(intf("Ethernet1"));
  auto s = redStatus->topoPortStatus(intf("Ethernet1"));
  EXPECT_EQ(r->topoPortStateReflectorIs(intf("Ethernet1"), c, s, brConfig, brStatus, topoConfig, red, clock, clock), p);
  auto again = [&](Kiv::Ptr<Bridging::Topology::TopoConfig> const& topo, Kiv::Ptr<Kiv::Clock> const& fdbClock) {
    return nameInUseMessage([&] {
      r->topoPortStateReflectorIs(intf("Ethernet1"), c, s, brConfig, brStatus, topoConfig, topo, clock, fdbClock);
    });
  };
  auto blue = topoConfig->topoConfigIs("blue");
  auto clock2 = Kiv::Clock::ClockIs("clock2");
  EXPECT_EQ(again(blue, clock2),
            "Reinstantiating the pointer interface where constructor parameter attribute _topoConfig has a different "
            "value of 'topo/blue' than the current value of 'topo/red' not allowed");
  EXPECT_EQ(again(red, clock2),
            "Reinstantiating the pointer interface where constructor parameter attribute _fdbClock has a different "
            "value of 'clock2' than the current value of 'clock' not allowed");
  EXPECT_EQ(r->topoPortStateReflector(intf("Ethernet1")), p);
  EXPECT_EQ(p->topoConfig(), red);
  EXPECT_EQ(p->fdbClock(), clock);

  r->hasNotificationActiveIs(true);
  r->hasNotificationActiveIs(false);
  EXPECT_FALSE(p->hasNotificationActive()) << "notification changes reach the children";
  r->kivDoZombieReactors(true);
  EXPECT_FALSE(p->kivMarkedForDeletion()) << "zombie changes do not";
}

TEST_F(TopoReflector, PortReflectorsFollowTheirEntriesAndAreNeverRefreshed) {
  auto r = reflect();
  r->hasNotificationActiveIs(true);
  traces();
  redStatus->topoPortStatusIs(intf("Ethernet2"));
  Log got = traces();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(Log(got.begin(), got.begin() + 4),
            (Log{entryTrace("TopoStateReflector", "handleTopoPortStatus", "Pyrel::IntfId"),
                 entryTrace("TopoStateReflector", "doSyncPort", "Pyrel::IntfId"),
                 "7 doSyncPort: Creating new state reflector for port Ethernet2",
                 entryTrace("TopoPortStateReflector", "handleState")}))
      << "the port reflector is made inside the call";
  red->topoPortConfigDel(intf("Ethernet1"));
  EXPECT_EQ(traces(7), Log{"7 doSyncPort: Deleting state reflector for port Ethernet1"});
  redStatus->topoPortStatusDel(intf("Ethernet1"));
  EXPECT_EQ(traces(7), Log{});
  EXPECT_EQ(r->topoPortStateReflectors(), 2u);

  auto old = red->topoPortConfig(intf("Ethernet3"));
  red->topoPortConfigIs(Kiv::make<Bridging::Topology::TopoPortConfig>(intf("Ethernet3")));
  EXPECT_EQ(r->topoPortStateReflector(intf("Ethernet3"))->topoPortConfig(), old);

  // A full pass visits only ports in the collections: one that vanished
  // from both unseen keeps its reflector.
  r->hasNotificationActiveIs(false);
  red->topoPortConfigDel(intf("Ethernet3"));
  redStatus->topoPortStatusDel(intf("Ethernet3"));
  r->handleTopoPortConfig();
  EXPECT_TRUE(r->topoPortStateReflector(intf("Ethernet3")));
}

TEST_F(TopoReflector, RepointingTheConfigurationOrTheStatusRunsTheFullPass) {
  auto r = reflect();
  r->hasNotificationActiveIs(true);
  traces();
  auto const pass = [&] {
    Log got = traces(7);
    std::sort(got.begin(), got.end());
    return got;
  };
  // Another configuration with Ethernet1 and Ethernet2: Ethernet3 goes,
  // Ethernet2 (configured only) still waits for its status.
  auto blue = Kiv::make<Bridging::Topology::TopoConfig>("red");
  blue->topoPortConfigIs(intf("Ethernet1"));
  blue->topoPortConfigIs(intf("Ethernet2"));
  r->topoConfigIs(blue);
  EXPECT_EQ(pass(), Log{"7 doSyncPort: Deleting state reflector for port Ethernet3"});
  // Another status with Ethernet2 only: Ethernet1 goes, Ethernet2 comes.
  auto blueStatus = Kiv::make<Bridging::Topology::Inst::TopoStatus>("red");
  blueStatus->topoPortStatusIs(intf("Ethernet2"));
  r->topoStatusIs(blueStatus);
  EXPECT_EQ(pass(), (Log{"7 doSyncPort: Creating new state reflector for port Ethernet2",
                         "7 doSyncPort: Deleting state reflector for port Ethernet1"}));
  EXPECT_EQ(r->topoPortStateReflectors(), 1u);
}

}  // namespace
}  // namespace ReflectorTesting
