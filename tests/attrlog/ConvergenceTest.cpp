// Randomized convergence: random changes of every replicated attribute on
// the source, through small writers and misbehaving streams, with suspended
// and aborted flow-outs and broken connections, end with a mirror equal to
// its source. ATTRLOG_SEEDS=n runs n seeds (a few by default); a failure
// names its seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

struct RandomRun {
  explicit RandomRun(std::uint32_t seed) : rng(seed) {}

  std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); }
  bool chance(std::uint32_t percent) { return pick(100) < percent; }

  void connect() {
    link = Link::make(dir, 16 + pick(8192));
    Kiv::MemoryByteStream::FaultPlan plan;
    if (chance(30)) plan.readChunk = 1 + pick(7);
    if (chance(30)) plan.writeChunk = 1 + pick(50);
    if (chance(30)) plan.fullEvery = 2 + pick(5);
    link.sourceStream->faultPlanIs(plan);
    link.mirrorStream->faultPlanIs(plan);
    link.source->writer()->capacityIs(chance(20) ? Demuxer::defaultCapacity : 1 + pick(4096));
    link.source->writer()->flowOutBudgetIs(1 + pick(40));
    configSa = link.source->mount(config);
    statusSa = link.source->mount(status);
    // Flow-outs made on demand rather than by the runtime.
    bool const onDemand = chance(25);
    configSa->stateFlagIs(Kiv::StreamAdapter::flagFlowOutOnDemand, onDemand);
    statusSa->stateFlagIs(Kiv::StreamAdapter::flagFlowOutOnDemand, onDemand);
  }

  std::string name() {
    // Now and then longer than a chunk, so that it is still being written
    // when it changes again.
    std::size_t const n = chance(15) ? 16384 + pick(40000) : pick(20);
    std::string s(n, 'a');
    for (auto& c : s) c = static_cast<char>('a' + pick(26));
    return s;
  }

  void step() {
    std::uint32_t const op = pick(12);
    switch (op) {
      case 0:
      case 1:
      case 2: config->extTapDeviceIs("et" + std::to_string(pick(40)), TapDevice("tap" + std::to_string(pick(1000)), static_cast<std::uint16_t>(pick(9)))); break;
      case 3:
      case 4: config->extTapDeviceDel("et" + std::to_string(pick(40))); break;
      case 5: config->completeIs(!config->complete()); break;
      case 6: status->initializedIs(!status->initialized()); break;
      case 7: status->fabricDeviceNameIs(name()); break;
      case 8: (chance(50) ? static_cast<Kiv::Entity&>(*config) : static_cast<Kiv::Entity&>(*status)).isNondestructingIs(chance(50)); break;
      case 9:
        if (chance(50)) link.source->flowOutAbort(configSa);
        else link.source->flowOutAbort(statusSa);
        break;
      case 10:
        if (chance(10)) {
          link.cut();
          connect();
        } else if (chance(20)) {
          config->extTapDeviceDelAll();
        }
        break;
      default:
        break;
    }
    for (std::uint32_t turns = pick(4); turns > 0; --turns) Kiv::eventLoop().runOnce();
  }

  std::mt19937 rng;
  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("agentStatus");
  Kiv::Ptr<Kiv::Dir> dir = Kiv::Dir::DirIs("mirror");
  Link link;
  Kiv::Ptr<Kiv::Entity::KivNboAttrLogSa> configSa, statusSa;
};

TEST(Convergence, MirrorEqualsSourceAfterRandomChangesFaultsAndReconnects) {
  char const* env = std::getenv("ATTRLOG_SEEDS");
  std::uint32_t const seeds = env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : 25;
  char const* first = std::getenv("ATTRLOG_SEED_FROM");
  for (std::uint32_t seed = first ? static_cast<std::uint32_t>(std::strtoul(first, nullptr, 10)) : 1; seed <= seeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Kiv::eventLoop().reset();
    RandomRun run(seed);
    run.connect();
    for (int i = 0; i < 300; ++i) run.step();
    drain();
    auto mc = mirrorOf<Config>(run.dir, "agentConfig");
    auto ms = mirrorOf<Status>(run.dir, "agentStatus");
    EXPECT_EQ(describe(mc), describe(run.config));
    EXPECT_EQ(describe(ms), describe(run.status));
    EXPECT_TRUE(run.link.source->open() && run.link.mirror->open())
        << "source: " << run.link.source->closeReason().stdString() << "; mirror: " << run.link.mirror->closeReason().stdString();
    // Nondestructing entities would outlive the test.
    run.config->isNondestructingIs(false);
    run.status->isNondestructingIs(false);
    drain();
    run.link.cut();
    if (mc) mc->isNondestructingIs(false);
    if (ms) ms->isNondestructingIs(false);
    drain();
    if (HasFailure()) break;
  }
}

}  // namespace
