// The configuration entity: notifications of its tap device collection,
// and the collection's look-ups, deletions and iterators.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "Kiv/Hash.h"
#include "agent/Config.h"
#include "tests/agent/AgentObservers.h"

namespace {

using namespace agent_test;
using Bridging::Orva::Config;
using TapDevice = Config::TapDevice;

class ConfigTest : public ::testing::Test {
 protected:
  Kiv::Ptr<ConfigWatcher> watch(std::string tag) {
    return agent_test::watch<ConfigWatcher>(config, &log, std::move(tag));
  }
  void fill(int n) {
    for (int i = 0; i < n; ++i) config->extTapDeviceIs(key(i), TapDevice("tap" + std::to_string(i), i));
  }
  static std::string key(int i) { return "et" + std::to_string(i); }
  // The keys in iteration order.
  std::vector<std::string> order() const {
    std::vector<std::string> keys;
    for (auto it = config->extTapDeviceIteratorConst(); it; ++it) keys.push_back(it->key().stdString());
    return keys;
  }

  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("config");
  Log log;
};

using ConfigNotification = ConfigTest;
using ConfigCollection = ConfigTest;

TEST_F(ConfigNotification, TapDeviceChangesNotifyOnceEachWithTheValueStored) {
  auto a = watch("a");
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  config->extTapDeviceIs("et1", TapDevice(std::string("tap1"), 7));
  config->extTapDeviceIs("et1", TapDevice("tap1", 8));
  config->extTapDeviceIs("et1", TapDevice("tap9", 8));
  EXPECT_EQ(log, (Log{"a:258=et1/tap1/7", "a:258=et1/tap1/8", "a:258=et1/tap9/8"}));
  EXPECT_EQ(config->extTapDevice("et1"), TapDevice("tap9", 8));
  EXPECT_EQ(config->extTapDevices(), 1u);
}

TEST_F(ConfigNotification, ThrowingTapDeviceObserverGetsExceptionWith258) {
  auto a = watch("a"), b = watch("b");
  a->hook = [] { Kiv::throwRangeException("boom"); };
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  EXPECT_EQ(log, (Log{"a:258=et1/tap1/7", "a!258", "b:258=et1/tap1/7"}));
}

TEST_F(ConfigNotification, ChangeHookAnnouncesTheKeyAndAttributesHaveNames) {
  auto a = watch("a");
  config->extTapDeviceNotify("et5", nullptr);
  EXPECT_EQ(log, (Log{"a:258=et5//0"}));
  EXPECT_EQ(config->attributeString(258), Kiv::String8("extTapDevice"));
  EXPECT_EQ(config->attributeString(259), Kiv::String8("complete"));
  EXPECT_EQ(config->fwkType()->name(), Kiv::String8("Config"));
}

TEST_F(ConfigCollection, AbsentKeyReadsAndDeletesAsDefaultWithoutNotifying) {
  fill(2);
  auto a = watch("a");
  EXPECT_EQ(config->extTapDevice("none"), TapDevice());
  EXPECT_EQ(config->extTapDeviceDel("none"), TapDevice());
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(config->extTapDeviceDel(key(1)), TapDevice("tap1", 1));
  EXPECT_EQ(log, (Log{"a:258=et1//0"})) << "the member is gone when observers hear of it";
  EXPECT_EQ(config->extTapDevices(), 1u);
}

TEST_F(ConfigCollection, DeleteAllNotifiesOncePerKeyInIterationOrder) {
  fill(3);
  auto const keys = order();
  auto a = watch("a");
  config->extTapDeviceDelAll();
  Log want;
  for (auto const& k : keys) want.push_back("a:258=" + k + "//0");
  EXPECT_EQ(log, want);
  EXPECT_EQ(config->extTapDevices(), 0u);
  config->extTapDeviceDelAll();
  EXPECT_EQ(log.size(), 3u) << "an empty collection notifies nobody";
}

TEST_F(ConfigCollection, DeleteAllStartsAgainWhileObserversAddMembers) {
  fill(3);
  auto a = watch("a");
  int added = 0;
  // Each time the last member has gone, one more arrives (twice), so the
  // walk has reached its end with the collection not empty.
  a->hook = [&] {
    if (config->extTapDevices() == 0 && added < 2) config->extTapDeviceIs("late" + std::to_string(added++), {"x", 1});
  };
  config->extTapDeviceDelAll();
  EXPECT_EQ(config->extTapDevices(), 0u);
  EXPECT_EQ(Log(log.begin() + 3, log.end()),
            (Log{"a:258=late0/x/1", "a:258=late0//0", "a:258=late1/x/1", "a:258=late1//0"}));
}

TEST_F(ConfigCollection, DeleteAllSurvivesObserverDroppingTheLastReference) {
  fill(3);
  auto a = watch("a");
  a->isWeakReferenceIs(true);
  a->hook = [&] { config = nullptr; };
  Config* raw = config.ptr();
  raw->extTapDeviceDelAll();
  EXPECT_EQ(log.size(), 4u) << "three deletions and the end of the entity";
  EXPECT_EQ(log.back(), "a:5");
}

TEST_F(ConfigCollection, IteratorAtKeyStartsAtTheKeysPlace) {
  fill(10);
  auto const keys = order();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::vector<std::string> walked;
    for (auto it = config->extTapDeviceIterator(keys[i]); it; ++it) walked.push_back(it.key().stdString());
    EXPECT_EQ(walked, std::vector<std::string>(keys.begin() + i, keys.end()));
  }
  // An absent key: the first member ordered after it by bit-reversed hash,
  // then by key.
  Kiv::String8 const absent("absent");
  auto place = [](Kiv::String8 const& k) { return std::make_pair(Kiv::bitReverse(k.hash()), k.stdString()); };
  auto next = std::find_if(keys.begin(), keys.end(), [&](std::string const& k) { return place(absent) < place(k); });
  auto it = config->extTapDeviceIterator(absent);
  if (next == keys.end()) EXPECT_FALSE(it);
  else EXPECT_EQ(it.key().stdString(), *next);
  EXPECT_FALSE(Kiv::make<Config>("empty")->extTapDeviceIterator(absent));
}

TEST_F(ConfigCollection, IteratorsSurviveChangesAndDeletionOfTheirMember) {
  fill(4);
  auto const keys = order();
  auto it = config->extTapDeviceIterator(keys[1]);
  auto const* member = it.ptr();
  config->extTapDeviceIs(keys[1], TapDevice("new", 9));
  EXPECT_EQ(it.ptr(), member) << "a change keeps the member object";
  EXPECT_EQ(it.value(), TapDevice("new", 9));
  config->extTapDeviceDel(keys[1]);
  config->extTapDeviceDel(keys[2]);
  ++it;
  EXPECT_EQ(it.key().stdString(), keys[3]);
}

TEST_F(ConfigCollection, DeletionThroughIteratorsIsAnnounced) {
  fill(3);
  auto const keys = order();
  auto a = watch("a");
  auto it = config->extTapDeviceIterator();
  it.del();
  EXPECT_EQ(it.key().stdString(), keys[1]);
  config->kivExtTapDeviceIterator().deleteAll();
  EXPECT_EQ(log, (Log{"a:258=" + keys[0] + "//0", "a:258=" + keys[1] + "//0", "a:258=" + keys[2] + "//0"}));
}

TEST_F(ConfigCollection, NewMemberIsLinkedSilentlyAndAPresentKeyIsRefused) {
  auto a = watch("a");
  auto m = config->newExtTapDevice("et1", TapDevice("tap1", 1));
  EXPECT_EQ(m->key(), Kiv::String8("et1"));
  EXPECT_EQ(config->extTapDevice("et1"), TapDevice("tap1", 1));
  EXPECT_THROW(config->newExtTapDevice("et1", TapDevice("tap2", 2)), Kiv::InternalException);
  EXPECT_EQ(config->extTapDevice("et1"), TapDevice("tap1", 1));
  EXPECT_EQ(config->extTapDevices(), 1u);
  EXPECT_TRUE(log.empty());
}

}  // namespace
