// The configuration entity: notifications of its tap device collection,
// and the collection's look-ups, deletions and iterators.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"
#include "agent/Config.h"
#include "tests/agent/AgentObservers.h"

namespace {

using namespace agent_test;
using Bridging::Orva::Config;
using TapDevice = Config::TapDevice;

class ConfigCollection : public ::testing::Test {
 protected:
  Kiv::Ptr<ConfigWatcher> watch(std::string tag) {
    return agent_test::watch<ConfigWatcher>(config, &log, std::move(tag));
  }
  // Members "et0" ... with values ("tap0", 0) ...; returns the keys in
  // iteration order.
  std::vector<std::string> fill(int n) {
    for (int i = 0; i < n; ++i) config->extTapDeviceIs(key(i), TapDevice("tap" + std::to_string(i), i));
    std::vector<std::string> keys;
    for (auto it = config->extTapDeviceIteratorConst(); it; ++it) keys.push_back(it.key().stdString());
    return keys;
  }
  static std::string key(int i) { return "et" + std::to_string(i); }
  static std::string gone(std::string const& k) { return "a:258=" + k + "//0"; }

  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("config");
  Log log;
};

TEST_F(ConfigCollection, ChangesNotifyTheKeyOncePerRealChangeWithTheValueStored) {
  auto a = watch("a");
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  config->extTapDeviceIs("et1", TapDevice(std::string("tap1"), 7));
  config->extTapDeviceIs("et1", TapDevice("tap1", 8));
  auto b = watch("b");
  a->hook = [] { Kiv::throwRangeException("boom"); };
  config->extTapDeviceIs("et1", TapDevice("tap9", 8));
  config->extTapDeviceNotify("et5", nullptr);  // the change hook announces its key
  EXPECT_EQ(log, (Log{"a:258=et1/tap1/7", "a:258=et1/tap1/8", "a:258=et1/tap9/8", "a!258", "b:258=et1/tap9/8",
                      gone("et5"), "a!258", "b:258=et5//0"}));
  EXPECT_EQ(config->extTapDevice("et1"), TapDevice("tap9", 8));
  EXPECT_EQ(config->extTapDevices(), 1u);
}

// Delete-all notifies once per key in iteration order, and the entity
// stays while its observers run even when one drops the last reference.
TEST_F(ConfigCollection, DeletionsNotifyOncePerRemovedKeyAndDeleteAllSurvivesTheLastReferenceGoing) {
  auto a = watch("a");
  config->extTapDeviceDelAll();
  EXPECT_TRUE(log.empty()) << "an empty collection notifies nobody";
  auto const keys = fill(4);
  log.clear();
  EXPECT_EQ(config->extTapDevice("none"), TapDevice());
  EXPECT_EQ(config->extTapDeviceDel("none"), TapDevice());
  EXPECT_TRUE(log.empty()) << "absent keys read and delete as the default, silently";
  EXPECT_EQ(config->extTapDeviceDel(key(1)), TapDevice("tap1", 1));
  EXPECT_EQ(log, (Log{gone(key(1))})) << "the member is gone when observers hear of it";

  log.clear();
  a->isWeakReferenceIs(true);
  a->hook = [&] { config = nullptr; };
  Config* raw = config.ptr();
  raw->extTapDeviceDelAll();
  Log want;
  for (auto const& k : keys)
    if (k != key(1)) want.push_back(gone(k));
  want.push_back("a:5");
  EXPECT_EQ(log, want) << "three deletions, then the end of the entity";
}

TEST_F(ConfigCollection, IteratorAtKeyStartsAtTheKeysPlace) {
  auto const keys = fill(10);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::vector<std::string> walked;
    for (auto it = config->extTapDeviceIterator(keys[i]); it; ++it) walked.push_back(it.key().stdString());
    EXPECT_EQ(walked, std::vector<std::string>(keys.begin() + i, keys.end()));
  }
  EXPECT_FALSE(Kiv::make<Config>("empty")->extTapDeviceIterator("absent"));
}

// An iterator stays on its member through a change; deletions through
// iterators are announced, and the iterator moves on to the next member.
TEST_F(ConfigCollection, IteratorsSurviveChangesAndAnnounceTheirDeletions) {
  auto const keys = fill(4);
  auto a = watch("a");
  auto it = config->extTapDeviceIterator(keys[1]);
  auto const* member = it.ptr();
  config->extTapDeviceIs(keys[1], TapDevice("new", 9));
  EXPECT_EQ(it.ptr(), member) << "a change keeps the member object";
  EXPECT_EQ(it.value(), TapDevice("new", 9));
  it.del();
  EXPECT_EQ(it.key().stdString(), keys[2]);
  config->kivExtTapDeviceIterator().deleteAll();
  EXPECT_EQ(log, (Log{"a:258=" + keys[1] + "/new/9", gone(keys[1]), gone(keys[0]), gone(keys[2]), gone(keys[3])}));
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
