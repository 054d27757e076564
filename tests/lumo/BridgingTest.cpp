// The bridging model: VLAN configuration, forwarding databases and their
// learned hosts. The walk that deletes hosts as it goes is the port
// reflector's flush (tests/reflector), on the map's iterator (tests/kiv).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Lumo/Bridging.h"

namespace {

using Bridging::FdbStatus;
using Bridging::Fid;
using Bridging::LearnedHost;
using Bridging::VlanId;
using Log = std::vector<std::string>;

Pyrel::EthAddr mac(std::uint64_t n) { return Pyrel::EthAddr(std::uint64_t{0x001c73000000} + n); }
std::string text(Pyrel::EthAddr const& a) { return a.stringValue().stdString(); }
Pyrel::IntfId const port1("Ethernet1");

struct HostWatcher : FdbStatus::Notifiee {
  void onLearnedHost(Pyrel::EthAddr addr) override { log.push_back(text(addr)); }
  Log log;
};

// A forwarding database's learned hosts: a value collection, shown here
// once; an observer logs the key of every change.
TEST(LearnedHosts, NotifyTheirKeyPerRealChangeAndRefuseStrayHosts) {
  auto status = Bridging::Status::StatusIs("bridging");
  auto fdb = status->fdbStatusIs(Fid(10));
  fdb->learnedHostIs(LearnedHost(mac(1), port1));
  fdb->learnedHostIs(LearnedHost(mac(2), Pyrel::IntfId("Ethernet2")));
  auto watcher = Kiv::make<HostWatcher>();
  watcher->notifierIs(fdb);
  fdb->learnedHostIs(fdb->learnedHost(mac(1)));
  fdb->learnedHostIs(mac(1), fdb->learnedHost(mac(1)));
  EXPECT_TRUE(watcher->log.empty()) << "an equal host stored again is no change";
  EXPECT_THROW(fdb->learnedHostIs(mac(1), LearnedHost(mac(50), port1)), Kiv::RangeException)
      << "a host stored under another address";
  EXPECT_EQ(fdb->learnedHostDel(mac(99)), LearnedHost()) << "an absent host reads as the default";
  EXPECT_EQ(fdb->learnedHost(mac(99)), LearnedHost());
  EXPECT_TRUE(watcher->log.empty());

  LearnedHost const moved(mac(1), Pyrel::IntfId("Ethernet7"));
  fdb->learnedHostIs(moved);
  EXPECT_EQ(fdb->learnedHost(mac(1)), moved);
  EXPECT_EQ(fdb->learnedHosts(), 2u);
  EXPECT_EQ(fdb->learnedHostDel(mac(2)).intf(), Pyrel::IntfId("Ethernet2"));
  EXPECT_EQ(watcher->log, (Log{text(mac(1)), text(mac(2))}));
}

// The other collections of the bridging model add their keys and their
// members' names; the collection's rules are shown on the topology model.
TEST(BridgingModel, VlansAndForwardingDatabasesNotifyTheirKeysAndAreNamedByThem) {
  struct VlanWatcher : Bridging::Config::Notifiee {
    void onVlanConfig(VlanId v) override { log.push_back(std::to_string(v.value())); }
    Log log;
  };
  struct FdbWatcher : Bridging::Status::Notifiee {
    void onFdbStatus(Fid f) override { log.push_back(std::to_string(f.value())); }
    Log log;
  };
  auto config = Bridging::Config::ConfigIs("bridging");
  auto status = Bridging::Status::StatusIs("bridging");
  auto vw = Kiv::make<VlanWatcher>();
  auto fw = Kiv::make<FdbWatcher>();
  vw->notifierIs(config);
  fw->notifierIs(status);
  for (std::uint16_t v : {10, 4094, 10}) config->vlanConfigIs(VlanId(v));
  status->fdbStatusIs(Fid(4094));
  status->fdbStatusDel(Fid(4094));
  EXPECT_EQ(vw->log, (Log{"10", "4094"}));
  EXPECT_EQ(fw->log, (Log{"4094", "4094"}));
  EXPECT_EQ(config->vlanConfig(VlanId(4094))->fullName(), Kiv::String8("bridging/4094"));
  EXPECT_EQ(status->fdbStatusIs(Fid(10))->fullName(), Kiv::String8("bridging/10"));
  EXPECT_EQ(status->fdbStatus(Fid(10))->parentAttr(), Kiv::String8("fdbStatus"));
}

}  // namespace
