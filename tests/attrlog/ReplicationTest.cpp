// Replication of the agent model between two ends of a connection: the
// mirror follows the source, changes cross both ways once, nothing is
// echoed, and a broken connection resynchronises.
#include <gtest/gtest.h>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

TEST_F(Replication, MirrorFollowsSourceBothWaysWithoutEcho) {
  config->extTapDeviceIs("et1", TapDevice("tap1", 7));
  config->completeIs(true);
  status->fabricDeviceNameIs("fabric0");
  link.source->mount(config);
  link.source->mount(status);
  drain();
  auto mc = mirrorOf<Config>(dir, "agentConfig");
  auto ms = mirrorOf<Status>(dir, "agentStatus");
  EXPECT_EQ(describe(mc), describe(config));
  EXPECT_EQ(describe(ms), describe(status));

  std::uint64_t const sent = link.source->writer()->records();
  config->extTapDeviceIs("et2", TapDevice("tap2", 8));
  drain();
  EXPECT_EQ(describe(mc), describe(config));
  EXPECT_EQ(link.mirror->writer()->records(), 0u) << "applied changes are not echoed";

  mc->extTapDeviceDel("et1");
  ms->initializedIs(true);
  drain();
  EXPECT_EQ(describe(mc), describe(config));
  EXPECT_EQ(describe(ms), describe(status));
  EXPECT_EQ(link.source->writer()->records(), sent + 1) << "only the source's own change went out";
}

// A source that detaches its adapter and mounts the entity again gives it a
// new id; the mirror follows under the new id only.
TEST_F(Replication, RemountUnderANewIdReplacesTheOld) {
  auto first = link.source->mount(config);
  drain();
  Kiv::EntityId const oldId = first->entityId();
  EXPECT_EQ(config->kivNboAttrLogSaDel(link.source->writer()), first);
  first = nullptr;
  auto second = link.source->mount(config);
  EXPECT_NE(second->entityId(), oldId);
  config->completeIs(true);
  drain();
  EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config));
  EXPECT_FALSE(link.mirror->reactor(oldId)) << "the old id is no longer answered";
  EXPECT_TRUE(link.mirror->reactor(second->entityId()));
}

// The same changes through streams that split, shorten and refuse writes
// give the same mirror as a stream that does not.
TEST(FaultyStream, EveryFaultPlanGivesTheFaultFreeMirror) {
  auto run = [](Kiv::MemoryByteStream::FaultPlan const& plan) {
    Kiv::eventLoop().reset();
    auto config = Bridging::Orva::configFactory("agentConfig");
    auto status = Bridging::Orva::statusFactory("agentStatus");
    auto dir = Kiv::Dir::DirIs("mirror");
    Link link = Link::make(dir, 512);
    link.sourceStream->faultPlanIs(plan);
    link.mirrorStream->faultPlanIs(plan);
    link.source->writer()->capacityIs(300);
    for (int i = 0; i < 40; ++i) config->extTapDeviceIs("et" + std::to_string(i), TapDevice("tap", i));
    status->fabricDeviceNameIs(std::string(40000, 'n'));
    link.source->mount(config);
    link.source->mount(status);
    for (int i = 0; i < 40; i += 3) {
      config->extTapDeviceDel("et" + std::to_string(i));
      Kiv::eventLoop().runOnce();
    }
    status->fabricDeviceNameIs(std::string(30000, 'm'));
    config->completeIs(true);
    drain();
    std::string const mirror =
        describe(mirrorOf<Config>(dir, "agentConfig")) + describe(mirrorOf<Status>(dir, "agentStatus"));
    EXPECT_EQ(mirror, describe(config) + describe(status));
    EXPECT_TRUE(link.mirror->open()) << link.mirror->closeReason().stdString();
    link.cut();
    drain();
    return mirror;
  };
  std::string const faultFree = run({});
  for (std::size_t chunk = 1; chunk <= 7; ++chunk) {
    EXPECT_EQ(run({chunk, 0, 0}), faultFree) << "reads of " << chunk << " bytes";
    EXPECT_EQ(run({0, chunk, 0}), faultFree) << "writes of " << chunk << " bytes";
  }
  for (std::uint32_t k = 2; k <= 5; ++k) EXPECT_EQ(run({0, 0, k}), faultFree) << "full every " << k << " writes";
}

// Changes that the writer cannot take while a resync or a long name is
// still going out reach the mirror all the same.
TEST_F(Replication, ChangesBehindAnOpenResyncOrAHalfWrittenNameArrive) {
  link.source->writer()->capacityIs(200);
  for (int i = 0; i < 30; ++i) config->extTapDeviceIs("et" + std::to_string(i), TapDevice("tap", i));
  status->fabricDeviceNameIs(std::string(50000, 'a'));
  auto sa = link.source->mount(config);
  auto ssa = link.source->mount(status);
  // Run until the resync is open and has passed the first entries, and the
  // name is half written.
  auto open = [&] {
    return sa->flowOut() && sa->flowOut()->bookmark() && ssa->flowOut() && ssa->flowOut()->valueIter() &&
           !link.source->writer()->hasSufficientBuffer();
  };
  for (int turn = 0; turn < 1000 && !open(); ++turn) Kiv::eventLoop().runOnce();
  ASSERT_TRUE(open());
  auto first = config->extTapDeviceIteratorConst();
  std::string const passed = first->key().stdString();
  config->extTapDeviceIs(passed, TapDevice("changed", 99));
  config->extTapDeviceDel((++first)->key());
  status->fabricDeviceNameIs("newest");
  drain();
  EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config));
  EXPECT_EQ(describe(mirrorOf<Status>(dir, "agentStatus")), describe(status));
}

}  // namespace
