// Replication of the agent model between two ends of a connection: the
// mirror follows the source, changes cross both ways once, nothing is
// echoed, and a broken connection resynchronises.
#include <gtest/gtest.h>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

class Replication : public ::testing::Test {
 protected:
  void SetUp() override { Kiv::eventLoop().reset(); }
  void TearDown() override {
    link.cut();
    drain();
  }
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("agentStatus");
  Kiv::Ptr<Kiv::Dir> dir = Kiv::Dir::DirIs("mirror");
  Link link = Link::make(dir);
};

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

}  // namespace
