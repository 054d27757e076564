// Changes made on both ends of a connection at once: records that cross on
// the wire settle to the same entity on both sides. A change made while
// connected survives unless a later change of the same attribute or key
// supersedes it; of two concurrent changes of one attribute or key, the
// mounting side's wins; an observer's change derived from an applied record
// is written back.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/attrlog/ReplicationFixture.h"

namespace {

using namespace attrlog_test;

class CrossingChanges : public Replication {
 protected:
  void SetUp() override {
    Replication::SetUp();
    config->extTapDeviceIs("a", TapDevice("ta", 1));
    for (int i = 0; i < 20; ++i) config->extTapDeviceIs("k" + std::to_string(i), TapDevice("old", 1));
    link.source->mount(config);
    link.source->mount(status);
    drain();
    mc = mirrorOf<Config>(dir, "agentConfig");
    ms = mirrorOf<Status>(dir, "agentStatus");
    ASSERT_TRUE(mc && ms);
  }
  void expectEqual() {
    EXPECT_EQ(describe(mc), describe(config));
    EXPECT_EQ(describe(ms), describe(status));
    EXPECT_TRUE(link.source->open() && link.mirror->open());
  }

  Kiv::Ptr<Config> mc;
  Kiv::Ptr<Status> ms;
};

// The mirror's writer is full after m1, so m2 makes it resend its whole
// collection, at once when the writer has room again; the source adds s1 in
// the same turn, so the resync cannot hold it.
TEST_F(CrossingChanges, MirrorResyncCrossingASourceChangeKeepsIt) {
  link.mirror->writer()->capacityIs(1);
  mc->extTapDeviceIs("m1", TapDevice("tm1", 1));
  mc->extTapDeviceIs("m2", TapDevice("tm2", 2));
  config->extTapDeviceIs("s1", TapDevice("ts1", 3));
  link.mirror->writer()->capacityIs(0);
  drain();
  expectEqual();
  EXPECT_EQ(config->extTapDevice("s1"), TapDevice("ts1", 3));
  EXPECT_EQ(config->extTapDevice("m2"), TapDevice("tm2", 2));
}

// The source resends its collection (its writer is full); the mirror
// changes the member the resync has just sent, and deletes the next one:
// the resent old values do not overwrite the changes.
TEST_F(CrossingChanges, MirrorChangeSurvivesASourceResyncUnderWay) {
  link.source->writer()->capacityIs(1);
  auto sa = config->kivNboAttrLogSa(link.source->writer());
  config->completeIs(true);  // written: the writer is full now
  config->extTapDeviceIs("k19", TapDevice("source", 2));
  for (int turn = 0; turn < 100 && !(sa->flowOut() && sa->flowOut()->bookmark()); ++turn) {
    Kiv::eventLoop().runOnce();
  }
  ASSERT_TRUE(sa->flowOut() && sa->flowOut()->bookmark());
  auto it = mc->extTapDeviceIteratorConst();
  Kiv::String8 const sent = it->key(), next = (++it)->key();
  mc->extTapDeviceIs(sent, TapDevice("mirror", 3));
  mc->extTapDeviceDel(next);
  drain();
  expectEqual();
  EXPECT_EQ(config->extTapDevice(sent), TapDevice("mirror", 3));
  EXPECT_EQ(config->extTapDevices(), 20u) << "one deleted";
}

// After a reconnection, a change made on the mirror as soon as its entity is
// replicated again (before the source's resync arrives) survives that
// resync, on both sides.
TEST_F(CrossingChanges, MirrorChangeRightAfterAReconnectSurvives) {
  link.cut();
  drain();
  link = Link::make(dir);
  link.source->mount(config);
  for (int turn = 0; turn < 100 && link.mirror->reactors() == 0; ++turn) Kiv::eventLoop().runOnce();
  ASSERT_EQ(link.mirror->reactors(), 1u);
  mc->extTapDeviceIs("late", TapDevice("tl", 4));
  drain();
  EXPECT_EQ(describe(mc), describe(config));
  EXPECT_EQ(config->extTapDevice("late"), TapDevice("tl", 4));
}

// After a reconnection the source resends its collection slowly; the
// mirror, which gained a member and missed one while disconnected, resends
// its own (a change of it was deferred) before it has all of the source's.
// Its resent members and the end of its resync are older than the source's
// resync: the source keeps its members, the mirror takes them, and the
// mirror's change is kept on both sides.
TEST_F(CrossingChanges, MirrorResyncCrossingTheSourcesRemountResyncIsNotApplied) {
  link.cut();
  drain();
  mc->extTapDeviceIs("gone", TapDevice("tg", 1));
  config->extTapDeviceIs("fresh", TapDevice("tf", 2));
  link = Link::make(dir);
  link.source->writer()->capacityIs(1);
  link.source->mount(config);
  for (int turn = 0; turn < 100 && link.mirror->reactors() == 0; ++turn) Kiv::eventLoop().runOnce();
  ASSERT_EQ(link.mirror->reactors(), 1u);
  link.mirror->writer()->capacityIs(1);
  mc->extTapDeviceIs("m1", TapDevice("tm1", 3));
  mc->extTapDeviceIs("m2", TapDevice("tm2", 4));  // deferred: the mirror resends its collection
  link.mirror->writer()->capacityIs(0);
  drain();
  EXPECT_EQ(describe(mc), describe(config));
  EXPECT_EQ(config->extTapDevice("fresh"), TapDevice("tf", 2));
  EXPECT_EQ(config->extTapDevice("gone"), TapDevice()) << "the mirror's member from before the reconnection";
  EXPECT_EQ(config->extTapDevice("m2"), TapDevice("tm2", 4));
}

// Both sides change the same attribute or key in the same turn: both end
// with the source's value. (A boolean on the mirror is changed there and
// back, so that both sides change it from the same value.)
TEST_F(CrossingChanges, ConcurrentChangesOfOneKeyEndWithTheMountingSidesValue) {
  using Change = std::function<void(Kiv::Ptr<Config> const&, Kiv::Ptr<Status> const&, std::string const&)>;
  struct Case {
    char const* what;
    Change source, mirror;
  } const cases[] = {
      {"replaced member", [](auto const& c, auto const&, auto const& r) { c->extTapDeviceIs("k5", TapDevice("s" + r, 5)); },
       [](auto const& c, auto const&, auto const& r) { c->extTapDeviceIs("k5", TapDevice("m" + r, 5)); }},
      {"member deleted and replaced", [](auto const& c, auto const&, auto const&) { c->extTapDeviceDel("k6"); },
       [](auto const& c, auto const&, auto const& r) { c->extTapDeviceIs("k6", TapDevice("m" + r, 6)); }},
      {"member replaced and deleted", [](auto const& c, auto const&, auto const& r) { c->extTapDeviceIs("k7", TapDevice("s" + r, 7)); },
       [](auto const& c, auto const&, auto const&) { c->extTapDeviceDel("k7"); }},
      {"complete", [](auto const& c, auto const&, auto const&) { c->completeIs(!c->complete()); },
       [](auto const& c, auto const&, auto const&) {
         c->completeIs(!c->complete());
         c->completeIs(!c->complete());
       }},
      {"initialized", [](auto const&, auto const& s, auto const&) { s->initializedIs(!s->initialized()); },
       [](auto const&, auto const& s, auto const&) {
         s->initializedIs(!s->initialized());
         s->initializedIs(!s->initialized());
       }},
      {"name", [](auto const&, auto const& s, auto const& r) { s->fabricDeviceNameIs("fs" + r); },
       [](auto const&, auto const& s, auto const& r) { s->fabricDeviceNameIs("fm" + r); }},
      {"long name", [](auto const&, auto const& s, auto const& r) { s->fabricDeviceNameIs(std::string(40000, 's') + r); },
       [](auto const&, auto const& s, auto const& r) { s->fabricDeviceNameIs(std::string(30000, 'm') + r); }},
  };
  for (auto const& c : cases) {
    for (std::size_t capacity : {std::size_t{0}, std::size_t{1}}) {
      std::string const round = std::to_string(capacity);
      SCOPED_TRACE(std::string(c.what) + (capacity ? ", writers full" : ""));
      link.source->writer()->capacityIs(0);
      config->extTapDeviceIs("k6", TapDevice("base", 6));
      config->extTapDeviceIs("k7", TapDevice("base", 7));
      drain();
      link.source->writer()->capacityIs(capacity);
      link.mirror->writer()->capacityIs(capacity);
      c.source(config, status, round);
      std::string const wanted = describe(config) + describe(status);
      c.mirror(mc, ms, round);
      drain();
      expectEqual();
      EXPECT_EQ(describe(config) + describe(status), wanted) << "the source's value won";
    }
  }
}

// An observer on the mirror that adds shadow-KEY whenever KEY is applied:
// its change is written back; only the applied change is not echoed.
TEST_F(CrossingChanges, ChangeDerivedFromAnAppliedRecordIsWrittenBack) {
  struct Shadow : Config::Notifiee {
    void onExtTapDevice(Kiv::String8 key) override {
      std::string const k = key.stdString();
      auto c = Kiv::Ptr<Config>(const_cast<Config*>(dynamic_cast<Config const*>(rawNotifier())));
      if (k.rfind("shadow-", 0) != 0 && c->extTapDeviceIteratorConst(key)) {
        c->extTapDeviceIs("shadow-" + k, TapDevice("shadow", 1));
      }
    }
  };
  auto shadow = Kiv::make<Shadow>();
  shadow->notifierIs(mc);
  std::uint64_t const written = link.mirror->writer()->records();
  config->extTapDeviceIs("x", TapDevice("tx", 7));
  drain();
  EXPECT_EQ(config->extTapDevice("shadow-x"), TapDevice("shadow", 1));
  expectEqual();
  EXPECT_EQ(link.mirror->writer()->records(), written + 1) << "x itself was not echoed";
  shadow->notifierIs(nullptr);
}

}  // namespace
