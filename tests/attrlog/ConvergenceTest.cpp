// Randomized convergence: both ends of a connection change every replicated
// attribute at random, through writers as small as one byte and streams
// that misbehave, with suspended and aborted flow-outs, broken connections
// and reconnections; whenever both sides are quiet the mirror equals its
// source, and no writer ever holds more than its capacity and one record.
// ATTRLOG_SEEDS=n runs seeds up to n (a few by default), from
// ATTRLOG_SEED_FROM; a failure names its seed and step.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

struct RandomRun : RandomChanges {
  using RandomChanges::RandomChanges;

  // A writer's capacity: the default, or anything down to one byte.
  void limit(Kiv::Ptr<Kiv::NboAttrLog::Out> const& writer) {
    writer->capacityIs(chance(20) ? Demuxer::defaultCapacity : 1 + pick(chance(50) ? 64 : 4096));
    writer->flowOutBudgetIs(1 + pick(40));
  }

  void connect() {
    link = Link::make(dir, 16 + pick(8192));
    Kiv::MemoryByteStream::FaultPlan plan;
    if (chance(30)) plan.readChunk = 1 + pick(7);
    if (chance(30)) plan.writeChunk = 1 + pick(50);
    if (chance(30)) plan.fullEvery = 2 + pick(5);
    link.sourceStream->faultPlanIs(plan);
    link.mirrorStream->faultPlanIs(plan);
    limit(link.source->writer());
    limit(link.mirror->writer());
    // Flow-outs made on demand rather than by the runtime, on either side.
    bool const sourceOnDemand = chance(25), mirrorOnDemand = chance(25);
    link.mirror->mirrorCallbackIs([this, mirrorOnDemand](Kiv::Ptr<Kiv::Entity> const& e) {
      e->kivNboAttrLogSa(link.mirror->writer())->stateFlagIs(Kiv::StreamAdapter::flagFlowOutOnDemand, mirrorOnDemand);
    });
    link.source->mount(config)->stateFlagIs(Kiv::StreamAdapter::flagFlowOutOnDemand, sourceOnDemand);
    link.source->mount(status)->stateFlagIs(Kiv::StreamAdapter::flagFlowOutOnDemand, sourceOnDemand);
  }

  // One random change on one side (the mirror's once it has its entities).
  void step() {
    bool const onSource = chance(50) || !mirrorOf<Config>(dir, "agentConfig") || !mirrorOf<Status>(dir, "agentStatus");
    Kiv::Ptr<Config> c = onSource ? config : mirrorOf<Config>(dir, "agentConfig");
    Kiv::Ptr<Status> s = onSource ? status : mirrorOf<Status>(dir, "agentStatus");
    Kiv::Ptr<Demuxer> const& demuxer = onSource ? link.source : link.mirror;
    std::uint32_t const kind = pick(kinds + 3);
    if (kind < kinds) {
      change(c, s, kind);
    } else if (kind == kinds) {
      (chance(50) ? static_cast<Kiv::Entity&>(*c) : static_cast<Kiv::Entity&>(*s)).isNondestructingIs(chance(50));
    } else if (kind == kinds + 1) {
      auto sa = chance(50) ? c->kivNboAttrLogSa(demuxer->writer()) : s->kivNboAttrLogSa(demuxer->writer());
      if (sa && demuxer->open()) demuxer->flowOutAbort(sa);
    } else if (chance(10)) {
      link.cut();
      connect();
    }
    for (std::uint32_t turns = pick(4); turns > 0; --turns) Kiv::eventLoop().runOnce();
  }

  // What a writer holds never reaches its capacity plus one record (and
  // the markers that go with it).
  void checkWriters(int at) {
    for (auto const& writer : {link.source->writer(), link.mirror->writer()}) {
      ASSERT_LT(writer->pending(), writer->holdLimit())
          << "step " << at << ": capacity " << writer->capacity() << ", longest record " << writer->largestRecord();
    }
  }

  void checkEqual(int at) {
    drain();
    EXPECT_EQ(describe(mirrorOf<Config>(dir, "agentConfig")), describe(config)) << "quiet after step " << at;
    EXPECT_EQ(describe(mirrorOf<Status>(dir, "agentStatus")), describe(status)) << "quiet after step " << at;
    EXPECT_TRUE(link.source->open() && link.mirror->open())
        << "after step " << at << ": source: " << link.source->closeReason().stdString()
        << "; mirror: " << link.mirror->closeReason().stdString();
  }

  // Nondestructing entities would outlive the test.
  void release() {
    for (Kiv::Ptr<Kiv::Entity> e : {Kiv::Ptr<Kiv::Entity>(config), Kiv::Ptr<Kiv::Entity>(status),
                                    Kiv::Ptr<Kiv::Entity>(mirrorOf<Config>(dir, "agentConfig")),
                                    Kiv::Ptr<Kiv::Entity>(mirrorOf<Status>(dir, "agentStatus"))}) {
      if (e) e->isNondestructingIs(false);
    }
    drain();
    link.cut();
    drain();
  }

  Kiv::Ptr<Config> config = Bridging::Orva::configFactory("agentConfig");
  Kiv::Ptr<Status> status = Bridging::Orva::statusFactory("agentStatus");
  Kiv::Ptr<Kiv::Dir> dir = Kiv::Dir::DirIs("mirror");
  Link link;
};

std::uint32_t envNumber(char const* name, std::uint32_t otherwise) {
  char const* v = std::getenv(name);
  return v ? static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10)) : otherwise;
}

TEST(Convergence, BothSidesEqualAfterRandomChangesOnBothFaultsAndReconnects) {
  constexpr int steps = 400, quietEvery = 100;
  std::uint32_t const last = envNumber("ATTRLOG_SEEDS", 12);
  for (std::uint32_t seed = envNumber("ATTRLOG_SEED_FROM", 1); seed <= last; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Kiv::eventLoop().reset();
    RandomRun run(seed);
    run.connect();
    for (int i = 1; i <= steps && !::testing::Test::HasFailure(); ++i) {
      run.step();
      run.checkWriters(i);
      if (i % quietEvery == 0) run.checkEqual(i);
    }
    run.release();
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
