// The bridging model: VLAN configuration, forwarding databases and their
// learned hosts, above all the walk that deletes hosts as it goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Kiv/Exception.h"
#include "Lumo/Bridging.h"

namespace {

using Bridging::Fid;
using Bridging::FdbStatus;
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

// A forwarding database with hosts 1, 3, 5, ... on Ethernet1 and 2, 4, 6,
// ... on Ethernet2, and an observer that logs the key of every change.
class LearnedHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint64_t i = 1; i <= 12; ++i)
      fdb->learnedHostIs(LearnedHost(mac(i), i % 2 ? port1 : Pyrel::IntfId("Ethernet2")));
    order = keys();
    watcher->notifierIs(fdb);
  }
  Log keys() const {
    Log r;
    for (auto it = fdb->learnedHostIteratorConst(); it; ++it) r.push_back(text(it->key()));
    return r;
  }

  Kiv::Ptr<Bridging::Status> status = Bridging::Status::StatusIs("bridging");
  Kiv::Ptr<FdbStatus> fdb = status->fdbStatusIs(Fid(10));
  Kiv::Ptr<HostWatcher> watcher = Kiv::make<HostWatcher>();
  Log order;
};

// The walk of a port flush.
TEST_F(LearnedHosts, WalkDeletingTheCurrentEntryVisitsEveryEntryOnce) {
  Log visited, deleted, kept;
  for (auto it = fdb->learnedHostIterator(); it; ++it) {
    visited.push_back(text(it->key()));
    bool const onPort1 = it->value().intf() == port1;
    (onPort1 ? deleted : kept).push_back(text(it->key()));
    if (onPort1) {
      EXPECT_EQ(fdb->learnedHostDel(it->key()).intf(), port1);
    }
  }
  EXPECT_EQ(visited, order);
  EXPECT_EQ(deleted.size(), 6u);
  EXPECT_EQ(watcher->log, deleted) << "one notification per deleted host, in walk order";
  EXPECT_EQ(keys(), kept);
}

TEST_F(LearnedHosts, WalkDeletingCurrentAndNextEntryGoesOnAfterBoth) {
  Log visited, everyOther;
  for (auto it = fdb->learnedHostIterator(); it; ++it) {
    Pyrel::EthAddr const here = it->key();
    visited.push_back(text(here));
    auto next = it;
    ++next;
    if (next) fdb->learnedHostDel(next->key());
    fdb->learnedHostDel(here);
  }
  for (std::size_t i = 0; i < order.size(); i += 2) everyOther.push_back(order[i]);
  EXPECT_EQ(visited, everyOther);
  EXPECT_EQ(fdb->learnedHosts(), 0u);
  EXPECT_EQ(watcher->log.size(), order.size());
}

TEST_F(LearnedHosts, NotifyTheirKeyPerRealChangeRefuseStrayHostsAndDeleteAllInOrder) {
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
  EXPECT_EQ(fdb->learnedHosts(), 12u);
  EXPECT_EQ(watcher->log, (Log{text(mac(1))}));

  watcher->log.clear();
  fdb->learnedHostDelAll();
  EXPECT_EQ(watcher->log, order);
  EXPECT_EQ(fdb->learnedHosts(), 0u);
  EXPECT_FALSE(fdb->learnedHostIteratorConst());
}

TEST_F(LearnedHosts, EntryHeldByIteratorOutlivesDroppedStatus) {
  auto it = fdb->learnedHostIteratorConst();
  watcher = nullptr;
  fdb = nullptr;
  status = nullptr;
  ASSERT_TRUE(it);
  EXPECT_EQ(text(it->key()), order[0]);
  ++it;
  EXPECT_FALSE(it);
}

TEST(BridgingModel, VlansFindTheirForwardingDatabaseByEqualFid) {
  struct VlanWatcher : Bridging::Config::Notifiee {
    void onVlanConfig(VlanId v) override { log.push_back(std::to_string(v.value())); }
    Log log;
  };
  auto config = Bridging::Config::ConfigIs("bridging");
  auto status = Bridging::Status::StatusIs("bridging");
  auto w = Kiv::make<VlanWatcher>();
  w->notifierIs(config);
  for (std::uint16_t v : {10, 20, 4094, 10}) config->vlanConfigIs(VlanId(v));
  status->fdbStatusIs(Fid(10))->learnedHostIs(LearnedHost(mac(1), port1));
  status->fdbStatusIs(Fid(4094));

  Log found;
  for (auto it = config->vlanConfigIterator(); it; ++it) {
    auto fdb = status->fdbStatus(Fid(it->vlanId().value()));
    found.push_back(std::to_string(it->vlanId().value()) + (fdb ? ":" + std::to_string(fdb->learnedHosts()) : ":none"));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (Log{"10:1", "20:none", "4094:0"}));
  EXPECT_EQ(w->log, (Log{"10", "20", "4094"}));
  EXPECT_EQ(config->vlanConfig(VlanId(20))->fullName(), Kiv::String8("bridging/20"));
  EXPECT_EQ(status->fdbStatus(Fid(4094))->fullName(), Kiv::String8("bridging/4094"));
  EXPECT_EQ(status->fdbStatus(Fid(4094))->parentAttr(), Kiv::String8("fdbStatus"));
}

}  // namespace
