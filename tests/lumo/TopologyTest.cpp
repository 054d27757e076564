// The topology model: scalar and collection notifications, member
// replacement, the entity tree of members, the VLAN-to-topology map and the
// lifetime of members that outlive their owner. The instance status tree is
// built from the same collection template and is driven by the reflector
// tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Lumo/Topology.h"

namespace {

using Bridging::VlanId;
using Bridging::Topology::Config;
using Bridging::Topology::PortState;
using Bridging::Topology::TopoConfig;
using Bridging::Topology::TopoPortConfig;
using Bridging::Topology::TopoPortStatus;
using Log = std::vector<std::string>;

Pyrel::IntfId intf(char const* name) { return Pyrel::IntfId(name); }
std::string text(Pyrel::IntfId const& id) { return id.stringValue().stdString(); }

struct PortWatcher : TopoPortConfig::Notifiee {
  // Each entry shows the value already stored when the observer is called.
  void onState() override { log.push_back("state=" + std::to_string(int(notifier()->state()))); }
  void onFdbFlush() override { log.push_back("fdbFlush=" + std::to_string(notifier()->fdbFlush())); }
  void onLowerAgingTime() override { log.push_back("lowerAgingTime=" + std::to_string(notifier()->lowerAgingTime())); }
  Log log;
};

struct PortsWatcher : TopoConfig::Notifiee {
  void onTopoPortConfig(Pyrel::IntfId id) override {
    // The collection has changed already when its observers hear of it.
    log.push_back(text(id) + (notifier()->topoPortConfig(id) ? "+" : "-"));
  }
  Log log;
};

template <class W, class E>
Kiv::Ptr<W> watch(Kiv::Ptr<E> const& e) {
  auto w = Kiv::make<W>();
  w->notifierIs(e);
  return w;
}

// The keys of a topology's ports in iteration order.
Log portOrder(TopoConfig const& t) {
  Log r;
  for (auto it = t.topoPortConfigIteratorConst(); it; ++it) r.push_back(text(it->intfId()));
  return r;
}

class TopologyModel : public ::testing::Test {
 protected:
  Kiv::Ptr<Config> config = Config::ConfigIs("topo");
  Kiv::Ptr<TopoConfig> topo = config->topoConfigIs("default");
};

TEST(TopologyPort, ConfigAndStatusNotifyOncePerRealChangeAfterStoring) {
  auto port = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  auto w = watch<PortWatcher>(port);
  EXPECT_EQ(port->state(), PortState::disabled);
  port->stateIs(PortState::disabled);
  port->fdbFlushIs(0);
  port->lowerAgingTimeIs(false);
  EXPECT_TRUE(w->log.empty()) << "defaults stored again are no change";
  for (int i = 0; i < 2; ++i) {
    port->stateIs(PortState::forwarding);
    port->fdbFlushIs(4294967295u);
    port->lowerAgingTimeIs(true);
  }
  EXPECT_EQ(w->log,
            (Log{"state=" + std::to_string(int(PortState::forwarding)), "fdbFlush=4294967295", "lowerAgingTime=1"}));

  struct StatusWatcher : TopoPortStatus::Notifiee {
    void onState() override { log.push_back("state=" + std::to_string(int(notifier()->state()))); }
    void onFdbFlushReport() override { log.push_back("report=" + std::to_string(notifier()->fdbFlushReport())); }
    Log log;
  };
  auto s = Kiv::make<TopoPortStatus>(intf("Ethernet2"));
  auto sw = watch<StatusWatcher>(s);
  for (int i = 0; i < 2; ++i) {
    s->stateIs(PortState::learning);
    s->fdbFlushReportIs(4294967295u);
  }
  EXPECT_EQ(sw->log, (Log{"state=" + std::to_string(int(PortState::learning)), "report=4294967295"}));
}

// Ports are added, found, walked from a key and removed (one at a time,
// through an iterator, all at once); each real change notifies its key
// once, and a member is its owner's child only while it is in the
// collection.
TEST_F(TopologyModel, CollectionNotifiesItsKeyOncePerChangeAndNamesMembersUnderTheOwner) {
  auto w = watch<PortsWatcher>(topo);
  auto a = topo->topoPortConfigIs(intf("Ethernet1"));
  EXPECT_EQ(topo->topoPortConfigIs(intf("Ethernet1")), a) << "an existing member is returned, not remade";
  auto b = topo->topoPortConfigIs(intf("Ethernet2"));
  topo->topoPortConfigIs(intf("Ethernet3"));
  EXPECT_EQ(topo->topoPortConfigs(), 3u);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet2")), b);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet9")), nullptr);
  EXPECT_EQ(a->fullName(), Kiv::String8("topo/default/Ethernet1"));
  EXPECT_EQ(a->parent(), topo);
  EXPECT_EQ(a->parentAttr(), Kiv::String8("topoPortConfig"));
  EXPECT_EQ(topo->parentAttr(), Kiv::String8("topoConfig"));

  Log const order = portOrder(*topo);
  EXPECT_EQ(text(topo->topoPortConfigIteratorConst(intf(order[1].c_str()))->intfId()), order[1]);
  EXPECT_EQ(text(topo->topoPortConfigIterator(intf(order[2].c_str()))->intfId()), order[2]);

  EXPECT_EQ(topo->topoPortConfigDel(intf("Ethernet9")), nullptr);
  EXPECT_EQ(topo->topoPortConfigDel(intf(order[2].c_str()))->parent(), nullptr);
  auto it = topo->topoPortConfigIterator();
  Kiv::Ptr<TopoPortConfig> const first = it.member();
  it.del();
  ASSERT_TRUE(it);
  EXPECT_EQ(text(it->intfId()), order[1]) << "the iterator moved on to the next member";
  EXPECT_EQ(first->parent(), nullptr);
  EXPECT_EQ(first->fullName(), Kiv::String8(order[0])) << "no longer named under its owner";
  EXPECT_EQ(w->log, (Log{"Ethernet1+", "Ethernet2+", "Ethernet3+", order[2] + "-", order[0] + "-"}));

  for (char const* n : {"Ethernet4", "Port-Channel7", "Ethernet2"}) topo->topoPortConfigIs(intf(n));
  w->log.clear();
  Log expected;
  for (auto const& k : portOrder(*topo)) expected.push_back(k + "-");
  auto const held = topo->topoPortConfig(intf("Ethernet4"));
  topo->topoPortConfigDelAll();
  EXPECT_EQ(w->log, expected) << "delete-all notifies each member once, in iteration order";
  EXPECT_EQ(topo->topoPortConfigs(), 0u);
  EXPECT_EQ(held->parent(), nullptr);
  topo->topoPortConfigDelAll();
  EXPECT_EQ(w->log.size(), expected.size()) << "deleting all of nothing notifies nobody";
}

TEST_F(TopologyModel, PuttingAnObjectReplacesTheMemberOfItsKeyOrIsRefusedWithNoChange) {
  auto old = topo->topoPortConfigIs(intf("Ethernet1"));
  auto other = config->topoConfigIs("other");
  auto theirs = other->topoPortConfigIs(intf("Ethernet1"));
  auto w = watch<PortsWatcher>(topo);
  EXPECT_THROW(topo->topoPortConfigIs(theirs), Kiv::RangeException) << "a member of another owner";
  EXPECT_THROW(topo->topoPortConfigIs(Kiv::Ptr<TopoPortConfig>()), Kiv::RangeException);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet1")), old) << "the member of that key stays";
  EXPECT_EQ(old->parent(), topo);
  EXPECT_EQ(theirs->parent(), other);
  EXPECT_EQ(other->topoPortConfig(intf("Ethernet1")), theirs);
  EXPECT_TRUE(w->log.empty());

  auto replacement = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  topo->topoPortConfigIs(replacement);
  topo->topoPortConfigIs(replacement);  // the member that is there already: no change
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet1")), replacement);
  EXPECT_EQ(topo->topoPortConfigs(), 1u);
  EXPECT_EQ(old->parent(), nullptr);
  EXPECT_EQ(replacement->fullName(), Kiv::String8("topo/default/Ethernet1"));
  topo->topoPortConfigIs(Kiv::make<TopoPortConfig>(intf("Ethernet9")));
  EXPECT_EQ(w->log, (Log{"Ethernet1+", "Ethernet9+"}));
}

TEST_F(TopologyModel, VidToTopoMapYieldsTheVeryObjectStored) {
  struct TopoWatcher : Config::Notifiee {
    void onTopoConfig(Kiv::Name name) override { log.push_back("topo " + name.string().stdString()); }
    void onVidToTopoMap(VlanId vid) override { log.push_back("vid " + std::to_string(vid.value())); }
    Log log;
  };
  auto w = watch<TopoWatcher>(config);
  auto other = config->topoConfigIs("other");
  config->vidToTopoMapIs(VlanId(10), topo);
  config->vidToTopoMapIs(VlanId(20), other);
  EXPECT_EQ(config->vidToTopoMap(VlanId(10)).ptr(), topo.ptr());
  EXPECT_EQ(config->vidToTopoMap(VlanId(20)).ptr(), other.ptr());
  EXPECT_EQ(config->vidToTopoMap(VlanId(30)), nullptr) << "an absent VLAN reads as a null reference";

  // A distinct object of the same name is another value.
  config->topoConfigDel("default");
  auto sameName = config->topoConfigIs("default");
  config->vidToTopoMapIs(VlanId(10), sameName);
  EXPECT_EQ(config->vidToTopoMap(VlanId(10)), sameName);

  EXPECT_EQ(config->vidToTopoMapDel(VlanId(20)), other);
  EXPECT_EQ(config->vidToTopoMaps(), 1u);
  EXPECT_EQ(w->log, (Log{"topo other", "vid 10", "vid 20", "topo default", "topo default", "vid 10", "vid 20"}));
}

TEST(TopologyLifetime, MembersOutliveTheirDroppedOwnerSafely) {
  Kiv::Ptr<TopoConfig> topo;
  Kiv::Ptr<TopoPortConfig> held;
  auto w = Kiv::make<PortWatcher>();
  {
    auto config = Config::ConfigIs("topo");
    topo = config->topoConfigIs("default");
    config->vidToTopoMapIs(VlanId(1), topo);
    for (char const* n : {"Ethernet1", "Ethernet2", "Ethernet3"}) topo->topoPortConfigIs(intf(n));
    held = topo->topoPortConfig(intf("Ethernet2"));
    w->notifierIs(held);
  }
  EXPECT_EQ(topo->parent(), nullptr) << "the dropped owner left no pointer behind";
  EXPECT_EQ(topo->fullName(), Kiv::String8("default"));

  auto it = topo->topoPortConfigIteratorConst();
  topo = nullptr;
  ASSERT_TRUE(it) << "the iterator holds its member";
  EXPECT_EQ(it->parent(), nullptr);
  ++it;
  EXPECT_FALSE(it) << "an owner's end ends the walk";
  EXPECT_EQ(held->fullName(), Kiv::String8("Ethernet2"));
  held->stateIs(PortState::learning);
  EXPECT_EQ(w->log, (Log{"state=" + std::to_string(int(PortState::learning))}));
}

}  // namespace
