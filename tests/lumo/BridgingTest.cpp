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

struct HostWatcher : FdbStatus::Notifiee {
  void onLearnedHost(Pyrel::EthAddr addr) override { log.push_back(text(addr)); }
  Log log;
};

class LearnedHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    // Hosts 1, 3, 5, ... on Ethernet1; 2, 4, 6, ... on Ethernet2.
    for (std::uint64_t i = 1; i <= 12; ++i)
      fdb->learnedHostIs(LearnedHost(mac(i), Pyrel::IntfId(i % 2 ? "Ethernet1" : "Ethernet2")));
    for (auto it = fdb->learnedHostIteratorConst(); it; ++it) order.push_back(text(it->key()));
    watcher->notifierIs(fdb);
  }
  Log remaining() const {
    Log r;
    for (auto it = fdb->learnedHostIteratorConst(); it; ++it) r.push_back(text(it->key()));
    return r;
  }

  Kiv::Ptr<Bridging::Status> status = Bridging::Status::StatusIs("bridging");
  Kiv::Ptr<FdbStatus> fdb = status->fdbStatusIs(Fid(10));
  Kiv::Ptr<HostWatcher> watcher = Kiv::make<HostWatcher>();
  Log order;
};

TEST_F(LearnedHosts, WalkDeletingTheCurrentEntryVisitsEveryEntryOnce) {
  Pyrel::IntfId const port("Ethernet1");
  Log visited, deleted, kept;
  for (auto it = fdb->learnedHostIterator(); it; ++it) {
    visited.push_back(text(it->key()));
    if (it->value().intf() == port) {
      deleted.push_back(text(it->key()));
      EXPECT_EQ(fdb->learnedHostDel(it->key()).intf(), port);
    } else {
      kept.push_back(text(it->key()));
    }
  }
  EXPECT_EQ(visited, order);
  EXPECT_EQ(deleted.size(), 6u);
  EXPECT_EQ(watcher->log, deleted) << "one notification per deleted host, in walk order";
  EXPECT_EQ(remaining(), kept);
}

TEST_F(LearnedHosts, WalkSkipsTheNextEntryDeletedAheadOfIt) {
  Log visited;
  for (auto it = fdb->learnedHostIterator(); it; ++it) {
    visited.push_back(text(it->key()));
    auto next = it;
    ++next;
    if (next) fdb->learnedHostDel(next->key());
  }
  Log everyOther;
  for (std::size_t i = 0; i < order.size(); i += 2) everyOther.push_back(order[i]);
  EXPECT_EQ(visited, everyOther);
  EXPECT_EQ(remaining(), everyOther);
}

TEST_F(LearnedHosts, WalkDeletingCurrentAndNextEntryGoesOnAfterBoth) {
  Log visited;
  for (auto it = fdb->learnedHostIterator(); it; ++it) {
    visited.push_back(text(it->key()));
    auto next = it;
    ++next;
    Pyrel::EthAddr here = it->key();
    if (next) fdb->learnedHostDel(next->key());
    fdb->learnedHostDel(here);
  }
  Log everyOther;
  for (std::size_t i = 0; i < order.size(); i += 2) everyOther.push_back(order[i]);
  EXPECT_EQ(visited, everyOther);
  EXPECT_EQ(fdb->learnedHosts(), 0u);
  EXPECT_EQ(watcher->log.size(), order.size());
}

TEST_F(LearnedHosts, StoringNotifiesOnlyRealChanges) {
  LearnedHost moved(mac(1), Pyrel::IntfId("Ethernet7"));
  fdb->learnedHostIs(fdb->learnedHost(mac(1)));
  fdb->learnedHostIs(mac(1), fdb->learnedHost(mac(1)));
  EXPECT_TRUE(watcher->log.empty()) << "an equal host stored again is no change";

  fdb->learnedHostIs(moved);
  EXPECT_EQ(fdb->learnedHost(mac(1)), moved);
  EXPECT_EQ(fdb->learnedHostDel(mac(99)), LearnedHost()) << "an absent host reads as the default";
  EXPECT_EQ(fdb->learnedHost(mac(99)), LearnedHost());
  EXPECT_EQ(watcher->log, (Log{text(mac(1))}));
  EXPECT_EQ(fdb->learnedHosts(), 12u);
}

TEST_F(LearnedHosts, HostUnderAnotherAddressIsRefused) {
  LearnedHost stray(mac(50), Pyrel::IntfId("Ethernet1"));
  EXPECT_THROW(fdb->learnedHostIs(mac(1), stray), Kiv::RangeException);
  EXPECT_EQ(fdb->learnedHost(mac(1)).intf(), Pyrel::IntfId("Ethernet1"));
  EXPECT_EQ(fdb->learnedHosts(), 12u);
  EXPECT_TRUE(watcher->log.empty());
}

TEST_F(LearnedHosts, DeleteAllNotifiesEachHostInIterationOrder) {
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
  for (std::uint16_t v : {10, 20, 4094}) config->vlanConfigIs(VlanId(v));
  config->vlanConfigIs(VlanId(10));
  status->fdbStatusIs(Fid(10))->learnedHostIs(LearnedHost(mac(1), Pyrel::IntfId("Ethernet1")));
  status->fdbStatusIs(Fid(4094));

  Log found;
  for (auto it = config->vlanConfigIterator(); it; ++it) {
    auto fdb = status->fdbStatus(Fid(it->vlanId().value()));
    found.push_back(std::to_string(it->vlanId().value()) + (fdb ? ":" + std::to_string(fdb->learnedHosts()) : ":none"));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (Log{"10:1", "20:none", "4094:0"}));
  EXPECT_EQ(config->vlanConfigs(), 3u);
  EXPECT_EQ(w->log, (Log{"10", "20", "4094"}));
  EXPECT_EQ(config->vlanConfig(VlanId(20))->fullName(), Kiv::String8("bridging/20"));
  EXPECT_EQ(status->fdbStatus(Fid(4094))->fullName(), Kiv::String8("bridging/4094"));
  EXPECT_EQ(status->fdbStatus(Fid(4094))->parentAttr(), Kiv::String8("fdbStatus"));
  EXPECT_EQ(Bridging::FdbStatus::_fwkType()->qualifiedName(), Kiv::String8("Bridging::FdbStatus"));
  EXPECT_EQ(config->fwkType()->qualifiedName(), Kiv::String8("Bridging::Config"));
}

}  // namespace
