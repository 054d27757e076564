// The port reflector on its own: state reflection timed by the clock,
// flushes and their reports, the gating by `initialized`, and the wiring of
// its wrapped attributes (re-pointing, zombies, deletion).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "ReflectorFixture.h"

namespace ReflectorTesting {
namespace {

using Bridging::TopoPortStateReflector;
using Bridging::Topology::TopoPortConfig;

std::string entry(char const* handler) { return entryTrace("TopoPortStateReflector", handler); }

class PortStateReflector : public ReflectorTest {
 protected:
  // Port Ethernet1 of topology "red", made as its topology reflector makes
  // it (one clock for both clocks); `settle` lets the first call-backs pass.
  Kiv::Ptr<TopoPortStateReflector> reflect(bool settle = true) {
    auto r = Kiv::make<TopoPortStateReflector>(intf("Ethernet1"), config, status, brConfig, brStatus, topoConfig,
                                               topoConfig->topoConfigIs("red"), clock, clock);
    r->hasNotificationActiveIs(true);
    if (settle) runUntil(1.0), traces();
    return r;
  }

  Kiv::Ptr<TopoPortConfig> config = port("red", "Ethernet1").first;
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> status = port("red", "Ethernet1").second;
};

TEST_F(PortStateReflector, ConstructionRunsEveryHandlerThenSchedulesADifferingStateWithoutFlushing) {
  vlan(10, "red");
  learn({{10, 1, "Ethernet1"}});
  config->stateIs(PortState::forwarding);
  config->fdbFlushIs(4);
  auto r = reflect(false);
  EXPECT_EQ(traces(), (Log{entry("handleState"), entry("handleFdbFlush"), entry("handleClock"), entry("handleFdbClock"),
                           entry("handleInitialized"), entry("handleState"),
                           "7 handleState: Scheduling state update for port Ethernet1 to forwarding"}));
  EXPECT_EQ(r->lastFdbFlush(), 4.0) << "the counter present at creation counts as handled";
  EXPECT_EQ(hosts(10), Log{"10:1"});
  runUntil(delay);
  EXPECT_EQ(status->state(), PortState::forwarding);
}

TEST_F(PortStateReflector, OneCallBackCopiesTheLatestConfiguredStateEvenWhenItIsBackToTheStatus) {
  auto r = reflect();
  config->stateIs(PortState::learning);
  runUntil(1.0 + delay / 2);
  config->stateIs(PortState::forwarding);  // re-armed for a later time
  runUntil(1.0 + delay);
  EXPECT_EQ(status->state(), PortState::disabled);
  runUntil(1.0 + delay / 2 + delay);
  EXPECT_EQ(status->state(), PortState::forwarding);
  EXPECT_EQ(traces(7), (Log{"7 handleState: Scheduling state update for port Ethernet1 to learning",
                            "7 handleState: Scheduling state update for port Ethernet1 to forwarding",
                            "7 handleClock: Reflecting state for port Ethernet1 to forwarding"}));

  config->stateIs(PortState::learning);
  config->stateIs(PortState::forwarding);  // equal to the status: the arming stays
  runUntil(2.0);
  EXPECT_EQ(traces(7), (Log{"7 handleState: Scheduling state update for port Ethernet1 to learning",
                            "7 handleClock: Reflecting state for port Ethernet1 to forwarding"}));
}

TEST_F(PortStateReflector, FlushDeletesThisPortsHostsInVlansOfThisVeryTopologyAndReportsOnTheFdbClock) {
  for (auto [vid, topo] : {std::pair{10, "red"}, {11, "red"}, {20, "blue"}, {30, "red"}})
    vlan(static_cast<std::uint16_t>(vid), topo);
  // VLAN 30 maps to another object of the same name; VLAN 40 has no
  // forwarding database.
  topoConfig->vidToTopoMapIs(Bridging::VlanId(30), Kiv::make<Bridging::Topology::TopoConfig>("red"));
  brConfig->vlanConfigIs(Bridging::VlanId(40));
  topoConfig->vidToTopoMapIs(Bridging::VlanId(40), topoConfig->topoConfigIs("red"));
  learn({{10, 1, "Ethernet1"},
         {10, 2, "Ethernet2"},
         {10, 3, "Ethernet1"},
         {11, 4, "Ethernet1"},
         {20, 5, "Ethernet1"},
         {30, 6, "Ethernet1"}});
  auto r = reflect();

  config->fdbFlushIs(1);
  EXPECT_EQ(hosts(10), Log{"10:2"});
  EXPECT_EQ(hosts(11), Log{});
  EXPECT_EQ(hosts(20), Log{"20:5"});
  EXPECT_EQ(hosts(30), Log{"30:6"});
  Log deleted = traces(3);
  std::sort(deleted.begin(), deleted.end());
  EXPECT_EQ(deleted, (Log{"3 doAddressTableFlush: Deleting host in vlan 10 addr 00:00:00:00:00:01",
                          "3 doAddressTableFlush: Deleting host in vlan 10 addr 00:00:00:00:00:03",
                          "3 doAddressTableFlush: Deleting host in vlan 11 addr 00:00:00:00:00:04"}));
  runUntil(1.0 + delay / 2);
  EXPECT_EQ(status->fdbFlushReport(), 0u) << "reported only by the fdb clock call-back";
  runUntil(1.0 + delay);
  EXPECT_EQ(status->fdbFlushReport(), 1u);
  EXPECT_EQ(traces(7), Log{"7 handleFdbClock: Reflecting fdbFlush for port Ethernet1"});

  // A last flush that is no counter is not reported; one with a fraction
  // is truncated toward zero.
  for (double bad : {-1.0, 4294967296.0, std::nan("")}) {
    r->lastFdbFlushIs(bad);
    r->handleFdbClock();
    EXPECT_EQ(status->fdbFlushReport(), 1u) << bad;
  }
  r->lastFdbFlushIs(7.9);
  r->handleFdbClock();
  EXPECT_EQ(status->fdbFlushReport(), 7u);
}

TEST_F(PortStateReflector, RepointingRunsTheHandlersAtOnceButANewWrapperRunsNone) {
  auto r = reflect();
  auto other = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  other->stateIs(PortState::forwarding);
  other->fdbFlushIs(3);
  r->topoPortConfigIs(other);
  EXPECT_EQ(traces(),
            (Log{entry("handleState"), "7 handleState: Scheduling state update for port Ethernet1 to forwarding",
                 entry("handleFdbFlush"), entry("doAddressTableFlush")}));

  EXPECT_EQ(r->topoPortConfigDel(), other);
  config->stateIs(PortState::learning);
  r->topoPortConfigIs(config);
  EXPECT_EQ(traces(), Log{}) << "no wrapper was there, so none is re-pointed";
  config->stateIs(PortState::discarding);
  EXPECT_EQ(traces(7), Log{"7 handleState: Scheduling state update for port Ethernet1 to discarding"});

  // A deleted clock attribute: its wrapper is gone, nothing to arm.
  EXPECT_EQ(r->clockDel(), clock);
  EXPECT_EQ(r->clock(), nullptr);
  config->stateIs(PortState::forwarding);
  EXPECT_EQ(traces(7), Log{});
}

TEST_F(PortStateReflector, ZombieWrappersAndZombieReflectorsCallNoHandler) {
  auto r = reflect();
  auto extra = r->newTopoPortConfig(config);
  extra->kivDoZombieReactors(true);
  extra->hasNotificationActiveIs(true);  // notified again, still a zombie
  config->stateIs(PortState::forwarding);
  EXPECT_EQ(traces(),
            (Log{entry("handleState"), "7 handleState: Scheduling state update for port Ethernet1 to forwarding"}))
      << "only the reflector's own wrapper calls the handler";
  extra->onState();
  extra->notifierIs(Kiv::make<TopoPortConfig>(intf("Ethernet9")));
  EXPECT_EQ(traces(), Log{});

  r->kivDoZombieReactors(true);
  config->stateIs(PortState::learning);
  runUntil(2.0);
  EXPECT_EQ(traces(), Log{});
  EXPECT_EQ(status->state(), PortState::disabled);
  r->kivDoZombieReactors(false);
  config->stateIs(PortState::forwarding);
  EXPECT_EQ(traces(7), Log{"7 handleState: Scheduling state update for port Ethernet1 to forwarding"});
}

TEST_F(PortStateReflector, AWrapperKeptFromNewXOutlivesItsReflectorAndDoesNothing) {
  vlan(10, "red");
  learn({{10, 1, "Ethernet1"}});
  auto r = reflect();
  auto kept = r->newTopoPortConfig(config);
  auto keptClock = r->newClock(clock);
  r = nullptr;
  EXPECT_EQ(kept->reactor(), nullptr);
  EXPECT_EQ(keptClock->reactor(), nullptr);
  config->stateIs(PortState::forwarding);
  config->fdbFlushIs(5);
  runUntil(2.0);
  EXPECT_EQ(traces(), Log{});
  EXPECT_EQ(hosts(10), Log{"10:1"});
  EXPECT_EQ(status->state(), PortState::disabled);
}

// An entity that logs when its last reference goes.
template <class E>
struct Released : E {
  template <class A>
  Released(Log* log, char const* what, A const& a) : E(a), log(log), what(what) {}
  void zeroReferencesIs(bool zero) override {
    if (zero) log->push_back(what);
    E::zeroReferencesIs(zero);
  }
  Log* log;
  char const* what;
};

TEST_F(PortStateReflector, AnEndingReflectorReleasesItsReferencesInReverseDeclarationOrder) {
  Log released;
  Kiv::Ptr<TopoPortConfig> c = Kiv::make<Released<TopoPortConfig>>(&released, "topoPortConfig", intf("Ethernet7"));
  Kiv::Ptr<Bridging::Topology::TopoPortStatus> s =
      Kiv::make<Released<Bridging::Topology::TopoPortStatus>>(&released, "topoPortStatus", intf("Ethernet7"));
  Kiv::Ptr<Bridging::Topology::TopoConfig> t =
      Kiv::make<Released<Bridging::Topology::TopoConfig>>(&released, "topoConfig", "red");
  auto r = Kiv::make<TopoPortStateReflector>(intf("Ethernet7"), c, s, brConfig, brStatus, topoConfig, t, clock, clock);
  r->hasNotificationActiveIs(true);
  c = nullptr;
  s = nullptr;
  t = nullptr;
  EXPECT_EQ(released, Log{});
  r = nullptr;
  EXPECT_EQ(released, (Log{"topoConfig", "topoPortStatus", "topoPortConfig"}));
}

TEST_F(PortStateReflector, RepointingAClockRunsItsHandlerAtOnce) {
  auto r = reflect();
  auto other = Kiv::Clock::ClockIs("other clock");
  r->clockIs(other);
  EXPECT_EQ(traces(), (Log{entry("handleClock"), "7 handleClock: Reflecting state for port Ethernet1 to disabled"}));
  r->fdbClockIs(other);
  EXPECT_EQ(traces(), (Log{entry("handleFdbClock"), "7 handleFdbClock: Reflecting fdbFlush for port Ethernet1"}));
  EXPECT_EQ(r->clock(), other);
  EXPECT_EQ(r->fdbClock(), other);
}

TEST_F(PortStateReflector, UninitializedOrUnreferencedReflectorsDoNoWork) {
  vlan(10, "red");
  learn({{10, 1, "Ethernet1"}});
  // An uninitialized reflector's handlers only trace their entry.
  auto r = reflect();
  r->initializedIs(false);
  config->stateIs(PortState::forwarding);
  config->fdbFlushIs(9);
  r->handleClock();
  r->handleFdbClock();
  EXPECT_EQ(traces(),
            (Log{entry("handleState"), entry("handleFdbFlush"), entry("handleClock"), entry("handleFdbClock")}));
  EXPECT_EQ(status->state(), PortState::disabled);
  EXPECT_EQ(hosts(10), Log{"10:1"});
  r = nullptr;

  Kiv::make<TopoPortStateReflector>(intf("Ethernet1"), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr)
      ->handleFdbClock();
  // Without bridging references or clocks a flush request is recorded, but
  // there is nothing to delete and nothing to arm.
  r = Kiv::make<TopoPortStateReflector>(intf("Ethernet1"), config, status, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
  r->hasNotificationActiveIs(true);
  config->stateIs(PortState::learning);
  config->fdbFlushIs(2);
  runUntil(2.0);
  EXPECT_EQ(r->lastFdbFlush(), 2.0);
  EXPECT_EQ(hosts(10), Log{"10:1"});
  EXPECT_EQ(status->state(), PortState::disabled);
  EXPECT_EQ(traces(7), Log{});
}

}  // namespace
}  // namespace ReflectorTesting

namespace ReflectorTesting {
namespace {

// Acts once on the first host deletion it hears of in a forwarding database.
struct OnFirstDeletion : Bridging::FdbStatus::Notifiee {
  explicit OnFirstDeletion(std::function<void()> act) : act(std::move(act)) {}
  void onLearnedHost(Pyrel::EthAddr) override {
    if (act) std::exchange(act, nullptr)();
  }
  std::function<void()> act;
};

TEST_F(ReflectorTest, ObserversOfAFlushMayEndTheFlushingReflectorOrRequestAnotherFlush) {
  vlan(10, "red");
  auto const ports = port("red", "Ethernet1");
  auto const config = ports.first;
  auto const status = ports.second;
  learn({{10, 1, "Ethernet1"}, {10, 2, "Ethernet1"}, {10, 3, "Ethernet1"}});
  auto root = Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  auto topology = root->topoStateReflector("red");
  auto watch = Kiv::make<OnFirstDeletion>([&] { config->fdbFlushIs(2); });
  watch->notifierIs(brStatus->fdbStatus(Bridging::Fid(10)));
  runUntil(1.0);

  // A newer request raised inside the flush is the one recorded and reported.
  config->fdbFlushIs(1);
  runUntil(2.0);
  EXPECT_EQ(topology->topoPortStateReflector(intf("Ethernet1"))->lastFdbFlush(), 2.0);
  EXPECT_EQ(status->fdbFlushReport(), 2u);

  // The port's status entry removed by an observer of the flush: the
  // topology reflector deletes the port reflector, which finishes its flush
  // first (the sanitizers watch).
  learn({{10, 4, "Ethernet1"}, {10, 5, "Ethernet1"}});
  watch->act = [&] { topoStatus->topoStatus("red")->topoPortStatusDel(intf("Ethernet1")); };
  config->fdbFlushIs(3);
  EXPECT_FALSE(topology->topoPortStateReflector(intf("Ethernet1")));
  EXPECT_EQ(hosts(10), Log{});
}

// Ports Ethernet1 to Ethernet3 of topology "red", each with a host in VLAN
// 10, under a state reflector tree; the ports in their reflectors' order.
class RemovedSiblings : public ReflectorTest {
 protected:
  void SetUp() override {
    ReflectorTest::SetUp();
    vlan(10, "red");
    for (char const* p : {"Ethernet1", "Ethernet2", "Ethernet3"}) port("red", p);
    learn({{10, 1, "Ethernet1"}, {10, 2, "Ethernet2"}, {10, 3, "Ethernet3"}});
    root = Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
    topology = root->topoStateReflector("red");
    for (auto it = topology->topoPortStateReflectorIteratorConst(); it; ++it) order.push_back(it->intfId());
    runUntil(1.0);
    traces();
  }
  std::string deleting(int i) {
    return "7 doSyncPort: Deleting state reflector for port " + order[i].stringValue().stdString();
  }
  Kiv::Ptr<Bridging::Topology::TopoPortConfig> config(int i) { return topoConfig->topoConfig("red")->topoPortConfig(order[i]); }
  void removeStatus(int i) { topoStatus->topoStatus("red")->topoPortStatusDel(order[i]); }
  // Whether the port's host is still learned.
  bool learned(int i) {
    for (auto const& h : hosts(10))
      if (h == "10:" + order[i].stringValue().stdString().substr(8)) return true;
    return false;
  }

  Kiv::Ptr<Bridging::StateReflector> root;
  Kiv::Ptr<Bridging::TopoStateReflector> topology;
  std::vector<Pyrel::IntfId> order;
};

TEST_F(RemovedSiblings, AHeldRemovedPortReflectorKeepsNoPortReflectorRemovedAfterItActing) {
  auto held = topology->topoPortStateReflector(order[0]);
  auto const gone = topoStatus->topoStatus("red")->topoPortStatus(order[1]);
  removeStatus(0);
  removeStatus(1);
  EXPECT_EQ(traces(7), (Log{deleting(0), deleting(1)}));
  config(1)->fdbFlushIs(1);
  config(1)->stateIs(PortState::forwarding);
  runUntil(2.0);
  EXPECT_TRUE(learned(1)) << "a deleted reflector flushed";
  EXPECT_EQ(gone->state(), PortState::disabled) << "a deleted reflector reflected a state";
  EXPECT_EQ(gone->fdbFlushReport(), 0u);
  EXPECT_EQ(traces(), Log{});
}

TEST_F(RemovedSiblings, ARunningHandlersHoldKeepsNoPortReflectorRemovedAfterItsOwnActing) {
  // Inside port 0's flush an observer removes ports 0 and 1 and asks port 1
  // to flush.
  auto watch = Kiv::make<OnFirstDeletion>([&] {
    removeStatus(0);
    removeStatus(1);
    config(1)->fdbFlushIs(1);
  });
  watch->notifierIs(brStatus->fdbStatus(Bridging::Fid(10)));
  config(0)->fdbFlushIs(1);
  EXPECT_FALSE(learned(0));
  EXPECT_TRUE(learned(1)) << "a deleted reflector flushed";
  EXPECT_TRUE(learned(2));
}

TEST_F(ReflectorTest, NewChildUnderATakenKeyIsRefusedBeforeAnythingIsMade) {
  auto const ports = port("red", "Ethernet1");
  auto const config = ports.first;
  auto const status = ports.second;
  auto root = Bridging::stateReflectorFactory(topoConfig, topoStatus, brConfig, brStatus, clock);
  auto topology = root->topoStateReflector("red");
  auto existing = topology->topoPortStateReflector(intf("Ethernet1"));
  traces();
  EXPECT_EQ(nameInUseMessage([&] {
              topology->newTopoPortStateReflector(intf("Ethernet1"), config, status, brConfig, brStatus, topoConfig,
                                                  topoConfig->topoConfig("red"), clock, clock);
            }),
            "a child under the key 'Ethernet1' exists already");
  EXPECT_EQ(topology->topoPortStateReflector(intf("Ethernet1")), existing);
  EXPECT_EQ(traces(), Log{}) << "no child was made, so no handler ran";
}

}  // namespace
}  // namespace ReflectorTesting
