// The topology model: scalar and collection notifications, member
// replacement, the entity tree of members, the VLAN-to-topology map and the
// lifetime of members that outlive their owner.
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
  void onState() override { log.push_back("state"); }
  void onFdbFlush() override { log.push_back("fdbFlush=" + std::to_string(notifier()->fdbFlush())); }
  void onLowerAgingTime() override { log.push_back("lowerAgingTime"); }
  Log log;
};

struct PortsWatcher : TopoConfig::Notifiee {
  void onTopoPortConfig(Pyrel::IntfId id) override {
    // The collection has changed already when its observers hear of it.
    auto m = notifier()->topoPortConfig(id);
    log.push_back(text(id) + (m ? "+" : "-"));
  }
  Log log;
};

struct TopoWatcher : Config::Notifiee {
  void onTopoConfig(Kiv::Name name) override { log.push_back("topo " + name.string().stdString()); }
  void onVidToTopoMap(VlanId vid) override { log.push_back("vid " + std::to_string(vid.value())); }
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

TEST(TopologyPortConfig, ScalarMutatorsNotifyOncePerRealChangeAfterStoring) {
  auto port = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  auto w = watch<PortWatcher>(port);
  EXPECT_EQ(port->state(), PortState::disabled);
  port->stateIs(PortState::disabled);
  port->fdbFlushIs(0);
  port->lowerAgingTimeIs(false);
  EXPECT_TRUE(w->log.empty()) << "defaults stored again are no change";

  port->stateIs(PortState::forwarding);
  port->stateIs(PortState::forwarding);
  port->fdbFlushIs(7);
  port->fdbFlushIs(7);
  port->lowerAgingTimeIs(true);
  EXPECT_EQ(w->log, (Log{"state", "fdbFlush=7", "lowerAgingTime"}));
  EXPECT_EQ(port->state(), PortState::forwarding);
  EXPECT_TRUE(port->lowerAgingTime());
}

TEST(TopologyPortConfig, StatusStoresStateAndReport) {
  struct Watcher : TopoPortStatus::Notifiee {
    void onState() override { ++states; }
    void onFdbFlushReport() override { ++reports; }
    int states = 0, reports = 0;
  };
  auto s = Kiv::make<TopoPortStatus>(intf("Ethernet2"));
  auto w = watch<Watcher>(s);
  s->stateIs(PortState::learning);
  s->fdbFlushReportIs(4294967295u);
  s->fdbFlushReportIs(4294967295u);
  EXPECT_EQ(s->state(), PortState::learning);
  EXPECT_EQ(s->fdbFlushReport(), 4294967295u);
  EXPECT_EQ(w->states, 1);
  EXPECT_EQ(w->reports, 1);
}

TEST(TopologyPortConfig, TypeAndAttributeNames) {
  auto port = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  EXPECT_EQ(port->fwkType()->qualifiedName(), Kiv::String8("Bridging::Topology::TopoPortConfig"));
  EXPECT_EQ(port->fwkType(), TopoPortConfig::_fwkType()) << "one type object per type";
  EXPECT_EQ(port->fwkType()->parent(), Kiv::KivType::entityType());
  EXPECT_EQ(port->attributeString(TopoPortConfig::stateAttrId), Kiv::String8("state"));
  EXPECT_EQ(port->attributeString(259), Kiv::String8("fdbFlush"));
  EXPECT_EQ(port->attributeString(260), Kiv::String8("lowerAgingTime"));
  EXPECT_EQ(port->attributeString(Kiv::Attr::name), Kiv::String8("name"));
  EXPECT_EQ(port->attributeString(261), Kiv::String8());
  EXPECT_EQ(Config::ConfigIs("c")->attributeString(259), Kiv::String8("vidToTopoMap"));
  EXPECT_EQ(Bridging::Topology::Inst::Status::_fwkType()->qualifiedName(), Kiv::String8("Bridging::Topology::Inst::Status"));
  EXPECT_EQ(Bridging::Topology::Inst::TopoStatus::_fwkType()->qualifiedName(),
            Kiv::String8("Bridging::Topology::Inst::TopoStatus"));
}

TEST_F(TopologyModel, MembersAreChildrenNamedUnderTheirOwner) {
  auto port = topo->topoPortConfigIs(intf("Ethernet1"));
  EXPECT_EQ(port->fullName(), Kiv::String8("topo/default/Ethernet1"));
  EXPECT_EQ(port->parent(), topo);
  EXPECT_EQ(port->parentAttr(), Kiv::String8("topoPortConfig"));
  EXPECT_EQ(topo->parentAttr(), Kiv::String8("topoConfig"));

  EXPECT_EQ(topo->topoPortConfigDel(intf("Ethernet1")), port);
  EXPECT_EQ(port->parent(), nullptr);
  EXPECT_EQ(port->fullName(), Kiv::String8("Ethernet1"));
}

TEST_F(TopologyModel, CollectionNotifiesItsKeyOncePerChangeAndNeverForNoChange) {
  auto w = watch<PortsWatcher>(topo);
  auto a = topo->topoPortConfigIs(intf("Ethernet1"));
  EXPECT_EQ(topo->topoPortConfigIs(intf("Ethernet1")), a) << "an existing member is returned, not remade";
  auto b = topo->topoPortConfigIs(intf("Ethernet2"));
  EXPECT_EQ(topo->topoPortConfigs(), 2u);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet2")), b);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet3")), nullptr);

  EXPECT_EQ(topo->topoPortConfigDel(intf("Ethernet3")), nullptr);
  EXPECT_EQ(topo->topoPortConfigDel(intf("Ethernet1")), a);
  EXPECT_EQ(topo->topoPortConfigDel(intf("Ethernet1")), nullptr);
  EXPECT_EQ(w->log, (Log{"Ethernet1+", "Ethernet2+", "Ethernet1-"}));
}

TEST_F(TopologyModel, DeleteAllNotifiesEachMemberOnceInIterationOrder) {
  for (char const* n : {"Ethernet4", "Ethernet1", "Ethernet3", "Port-Channel7", "Ethernet2"})
    topo->topoPortConfigIs(intf(n));
  Log order = portOrder(*topo);
  auto held = topo->topoPortConfig(intf("Ethernet3"));
  auto w = watch<PortsWatcher>(topo);

  topo->topoPortConfigDelAll();
  Log expected;
  for (auto const& k : order) expected.push_back(k + "-");
  EXPECT_EQ(w->log, expected);
  EXPECT_EQ(topo->topoPortConfigs(), 0u);
  EXPECT_EQ(held->parent(), nullptr) << "a deleted member is no longer its owner's child";

  topo->topoPortConfigDelAll();
  EXPECT_EQ(w->log.size(), expected.size()) << "deleting all of nothing notifies nobody";
}

TEST_F(TopologyModel, DeletingThroughIteratorNotifiesAndReleasesMember) {
  auto a = topo->topoPortConfigIs(intf("Ethernet1"));
  auto b = topo->topoPortConfigIs(intf("Ethernet2"));
  auto w = watch<PortsWatcher>(topo);
  Log order = portOrder(*topo);

  auto it = topo->topoPortConfigIterator();
  Kiv::Ptr<TopoPortConfig> first = it.member();
  it.del();
  ASSERT_TRUE(it);
  EXPECT_EQ(text(it->intfId()), order[1]) << "the iterator moved on to the next member";
  EXPECT_EQ(w->log, (Log{order[0] + "-"}));
  EXPECT_EQ(first->parent(), nullptr);
  EXPECT_EQ(first->fullName(), Kiv::String8(order[0]));
}

TEST_F(TopologyModel, KeyedIteratorsStartAtTheKey) {
  for (char const* n : {"Ethernet1", "Ethernet2", "Ethernet3"}) topo->topoPortConfigIs(intf(n));
  Log order = portOrder(*topo);
  auto it = topo->topoPortConfigIteratorConst(intf(order[1].c_str()));
  ASSERT_TRUE(it);
  EXPECT_EQ(text(it->intfId()), order[1]);
  auto mit = topo->topoPortConfigIterator(intf(order[2].c_str()));
  ASSERT_TRUE(mit);
  EXPECT_EQ(text(mit->intfId()), order[2]);
}

TEST_F(TopologyModel, PuttingAnObjectReplacesTheMemberOfItsKeyWithOneNotification) {
  auto old = topo->topoPortConfigIs(intf("Ethernet1"));
  old->stateIs(PortState::forwarding);
  auto w = watch<PortsWatcher>(topo);

  auto replacement = Kiv::make<TopoPortConfig>(intf("Ethernet1"));
  topo->topoPortConfigIs(replacement);
  EXPECT_EQ(w->log, (Log{"Ethernet1+"}));
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet1")), replacement);
  EXPECT_EQ(topo->topoPortConfigs(), 1u);
  EXPECT_EQ(old->parent(), nullptr);
  EXPECT_EQ(replacement->fullName(), Kiv::String8("topo/default/Ethernet1"));

  topo->topoPortConfigIs(replacement);
  EXPECT_EQ(w->log.size(), 1u) << "putting the member that is there already is no change";

  auto fresh = Kiv::make<TopoPortConfig>(intf("Ethernet9"));
  topo->topoPortConfigIs(fresh);
  EXPECT_EQ(w->log, (Log{"Ethernet1+", "Ethernet9+"}));
}

TEST_F(TopologyModel, RefusedPutChangesNothing) {
  auto mine = topo->topoPortConfigIs(intf("Ethernet1"));
  auto other = config->topoConfigIs("other");
  auto theirs = other->topoPortConfigIs(intf("Ethernet1"));
  auto w = watch<PortsWatcher>(topo);

  EXPECT_THROW(topo->topoPortConfigIs(theirs), Kiv::RangeException);
  EXPECT_THROW(topo->topoPortConfigIs(Kiv::Ptr<TopoPortConfig>()), Kiv::RangeException);
  EXPECT_EQ(topo->topoPortConfig(intf("Ethernet1")), mine) << "the member of that key stays";
  EXPECT_EQ(mine->parent(), topo);
  EXPECT_EQ(theirs->parent(), other);
  EXPECT_EQ(other->topoPortConfig(intf("Ethernet1")), theirs);
  EXPECT_TRUE(w->log.empty());
}

TEST_F(TopologyModel, VidToTopoMapYieldsTheVeryObjectStored) {
  auto w = watch<TopoWatcher>(config);
  auto other = config->topoConfigIs("other");
  config->vidToTopoMapIs(VlanId(10), topo);
  config->vidToTopoMapIs(VlanId(10), topo);
  config->vidToTopoMapIs(VlanId(20), other);
  EXPECT_EQ(config->vidToTopoMap(VlanId(10)).ptr(), topo.ptr());
  EXPECT_EQ(config->vidToTopoMap(VlanId(20)).ptr(), other.ptr());
  EXPECT_EQ(config->vidToTopoMap(VlanId(30)), nullptr) << "an absent VLAN reads as a null reference";

  // A distinct object of the same name is another value.
  config->topoConfigDel("default");
  auto sameName = config->topoConfigIs("default");
  EXPECT_NE(config->vidToTopoMap(VlanId(10)), sameName);
  config->vidToTopoMapIs(VlanId(10), sameName);
  EXPECT_EQ(config->vidToTopoMap(VlanId(10)), sameName);

  EXPECT_EQ(config->vidToTopoMapDel(VlanId(20)), other);
  EXPECT_EQ(config->vidToTopoMapDel(VlanId(20)), nullptr);
  EXPECT_EQ(config->vidToTopoMaps(), 1u);
  EXPECT_EQ(w->log, (Log{"topo other", "vid 10", "vid 20", "topo default", "topo default", "vid 10", "vid 20"}));
}

TEST_F(TopologyModel, InstanceStatusTreeNotifiesKeysAndNamesMembers) {
  struct Watcher : Bridging::Topology::Inst::Status::Notifiee {
    void onTopoStatus(Kiv::Name n) override { log.push_back(n.string().stdString()); }
    Log log;
  };
  auto status = Bridging::Topology::Inst::Status::StatusIs("status");
  auto w = watch<Watcher>(status);
  auto ts = status->topoStatusIs("default");
  status->topoStatusIs("default");
  auto port = ts->topoPortStatusIs(intf("Ethernet1"));
  EXPECT_EQ(port->fullName(), Kiv::String8("status/default/Ethernet1"));
  EXPECT_EQ(ts->topoPortStatuss(), 1u);
  status->topoStatusDelAll();
  EXPECT_EQ(w->log, (Log{"default", "default"}));
  EXPECT_EQ(ts->parent(), nullptr);
  EXPECT_EQ(port->fullName(), Kiv::String8("default/Ethernet1"));
}

TEST(TopologyLifetime, MembersOutliveTheirDroppedOwnerSafely) {
  Kiv::Ptr<TopoConfig> topo;
  Kiv::Ptr<TopoPortConfig> held;
  TopoConfig::TopoPortConfigIteratorConst it;
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

  it = topo->topoPortConfigIteratorConst();
  topo = nullptr;
  ASSERT_TRUE(it) << "the iterator holds its member";
  EXPECT_EQ(it->parent(), nullptr);
  ++it;
  EXPECT_FALSE(it) << "an owner's end ends the walk";
  EXPECT_EQ(held->fullName(), Kiv::String8("Ethernet2"));
  held->stateIs(PortState::learning);
  EXPECT_EQ(w->log, (Log{"state"}));
}

}  // namespace
