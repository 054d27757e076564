// Clock delivery: one-shot minimum times per observer, driven by the event
// loop on simulated time, with hostile observers.
#include "Kiv/Clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Kiv/Exception.h"

namespace {

// The single-precision constant by which reactors delay their call-backs.
constexpr float delay = 9.5367431640625e-07f;  // 2^-20, bit pattern 0x35800000

using Log = std::vector<std::string>;

int liveAlarms = 0;

struct Alarm : Kiv::Clock::Notifiee {
  Alarm(Log* log, std::string tag) : log(log), tag(std::move(tag)) { ++liveAlarms; }
  ~Alarm() override { --liveAlarms; }
  void onTime() override {
    log->push_back(tag + "@" + std::to_string(Kiv::now()));
    times.push_back(Kiv::now());
    if (hook) hook();
  }
  void onNotificationException(Kiv::AttributeId id) override { log->push_back(tag + "!" + std::to_string(id)); }
  Log* log;
  std::string tag;
  std::vector<double> times;
  std::function<void()> hook;
};

class ClockDelivery : public ::testing::Test {
 protected:
  void SetUp() override { loop.reset(); }
  void TearDown() override { loop.reset(); }

  // An observer of the clock, already past its first (0.0) delivery unless
  // `fresh`.
  Kiv::Ptr<Alarm> alarm(std::string tag, bool fresh = false) {
    auto a = Kiv::make<Alarm>(&log, tag);
    a->notifierIs(clock);
    if (!fresh) {
      loop.runOnce();
      log.clear();
      a->times.clear();
    }
    return a;
  }

  Kiv::EventLoop& loop = Kiv::eventLoop();
  Kiv::Ptr<Kiv::Clock> clock = Kiv::Clock::ClockIs("clock");
  Log log;
};

TEST_F(ClockDelivery, NewObserverIsDeliveredOnceAtFirstTurnThenAtEachArmedTime) {
  auto a = alarm("a", true);
  EXPECT_TRUE(a->isArmed());
  EXPECT_EQ(a->timeMin(), 0.0);
  EXPECT_TRUE(log.empty()) << "attaching must not call inside notifierIs";
  loop.runOnce();
  EXPECT_EQ(a->times, std::vector<double>{0.0});
  EXPECT_FALSE(a->isArmed());
  a->timeMinIs(2.0);
  loop.runUntil(1.5);
  EXPECT_EQ(a->times.size(), 1u);
  loop.runUntil(9.0);
  EXPECT_EQ(a->times, (std::vector<double>{0.0, 2.0})) << "once, with now() equal to the due time";
}

TEST_F(ClockDelivery, EachObserverKeepsItsOwnTimeAndANewTimeReplacesThePendingOne) {
  auto later = alarm("later"), earlier = alarm("earlier");
  later->timeMinIs(1.0);
  later->timeMinIs(3.0);
  earlier->timeMinIs(4.0);
  earlier->timeMinIs(2.0);
  EXPECT_EQ(later->timeMin(), 3.0);
  EXPECT_EQ(earlier->timeMin(), 2.0);
  loop.runUntil(2.5);
  EXPECT_EQ(log, Log{"earlier@2.000000"});
  earlier->timeMinIs(5.0);
  loop.runUntil(10.0);
  EXPECT_EQ(log, (Log{"earlier@2.000000", "later@3.000000", "earlier@5.000000"}));
}

TEST_F(ClockDelivery, PastTimeIsDeliveredAtNextTurnAndNanIsRefused) {
  loop.runUntil(5.0);
  auto a = alarm("a");
  a->timeMinIs(1.0);
  EXPECT_TRUE(log.empty()) << "not inside timeMinIs";
  EXPECT_THROW(a->timeMinIs(std::nan("")), Kiv::RangeException);
  EXPECT_EQ(a->timeMin(), 1.0) << "a refused time leaves the arming alone";
  loop.runOnce();
  EXPECT_EQ(a->times, std::vector<double>{5.0});
}

TEST_F(ClockDelivery, TiesFireInArmingOrder) {
  auto a = alarm("a"), b = alarm("b"), c = alarm("c");
  c->timeMinIs(1.0);
  a->timeMinIs(1.0);
  b->timeMinIs(1.0);
  a->timeMinIs(1.0);  // same pending time: keeps its place
  loop.runUntil(1.0);
  EXPECT_EQ(log, (Log{"c@1.000000", "a@1.000000", "b@1.000000"}));
}

TEST_F(ClockDelivery, ObserverRearmedFromInsideOnTimeFiresAgainButNotInTheSameTurn) {
  auto a = alarm("a");
  a->hook = [&] {
    if (a->times.size() < 3) a->timeMinIs(Kiv::now() + 1.0);
  };
  a->timeMinIs(1.0);
  loop.runUntil(10.0);
  EXPECT_EQ(a->times, (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_FALSE(a->isArmed());

  a->times.clear();
  a->hook = [&] {
    if (a->times.size() < 3) a->timeMinIs(Kiv::now());
  };
  a->timeMinIs(0.0);
  loop.runOnce();
  EXPECT_EQ(a->times.size(), 1u) << "re-armed for now: not again inside the same turn";
  loop.runUntil(10.0);
  EXPECT_EQ(a->times, (std::vector<double>{10.0, 10.0, 10.0})) << "runUntil turns until nothing more is due";
}

TEST_F(ClockDelivery, ReleasedObserverIsNeverCalledAndAWeakOneEndsWithItsClock) {
  auto a = alarm("a"), b = alarm("b"), c = alarm("c");
  b->hook = [&] { c = nullptr; };
  for (auto* x : {&a, &b, &c}) (*x)->timeMinIs(1.0);
  int const live = liveAlarms;
  a = nullptr;
  EXPECT_EQ(liveAlarms, live) << "the loop's entry still holds it";
  loop.runUntil(2.0);
  EXPECT_EQ(log, Log{"b@1.000000"}) << "released before, or by an earlier call of the same turn";
  EXPECT_EQ(liveAlarms, live - 2) << "dropped at its time";

  b = nullptr;
  auto weak = alarm("weak");
  weak->isWeakReferenceIs(true);
  weak->timeMinIs(3.0);
  clock = nullptr;
  EXPECT_FALSE(weak->notifier());
  EXPECT_FALSE(weak->isArmed());
  loop.runUntil(4.0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(loop.pending(), 0u);
}

TEST_F(ClockDelivery, ObserverDueWhileIneligibleIsDeliveredWhenEligibleAgainButDetachingEndsTheArming) {
  auto a = alarm("a"), b = alarm("b"), c = alarm("c");
  a->timeMinIs(1.0);
  b->timeMinIs(1.0);
  c->timeMinIs(4.0);
  a->hasNotificationActiveIs(false);
  b->isRegisteredNotifieeIs(false);
  c->hasNotificationActiveIs(false);
  loop.runUntil(3.0);
  EXPECT_TRUE(log.empty()) << "not called while off";
  a->hasNotificationActiveIs(true);
  b->isRegisteredNotifieeIs(true);
  c->hasNotificationActiveIs(true);
  EXPECT_TRUE(log.empty()) << "not inside the call that makes it eligible";
  loop.runUntil(9.0);
  EXPECT_EQ(log, (Log{"a@3.000000", "b@3.000000", "c@4.000000"})) << "a future time is kept";

  log.clear();
  auto other = Kiv::Clock::ClockIs("other");
  a->timeMinIs(10.0);
  b->timeMinIs(10.0);
  a->notifierIs(nullptr);
  b->notifierIs(other);
  loop.runUntil(11.0);
  a->notifierIs(clock);
  loop.runUntil(12.0);
  EXPECT_TRUE(log.empty()) << "an arming ends with its attachment";
  EXPECT_FALSE(a->isArmed());
  EXPECT_EQ(other->kivNotifieeList().members(), 1u);

  auto d = Kiv::make<Alarm>(&log, "d");
  d->timeMinIs(12.5);
  loop.runUntil(13.0);
  d->notifierIs(clock);
  EXPECT_TRUE(log.empty());
  loop.runOnce();
  EXPECT_EQ(log, Log{"d@13.000000"}) << "armed while detached: called once attached";
}

TEST_F(ClockDelivery, ThrowingObserverGetsExceptionAndNextDueStillRuns) {
  auto a = alarm("a"), b = alarm("b");
  a->hook = [] { Kiv::throwRangeException("boom"); };
  a->timeMinIs(1.0);
  b->timeMinIs(1.0);
  loop.runUntil(2.0);
  EXPECT_EQ(log, (Log{"a@1.000000", "a!258", "b@1.000000"}));
  EXPECT_EQ(clock->attributeString(Kiv::Clock::timeAttributeId), "time");
}

TEST_F(ClockDelivery, TwoToTheMinusTwentyDelaysAreExactAndOrdered) {
  auto first = alarm("first"), second = alarm("second");
  double const t0 = Kiv::now() + delay;
  first->timeMinIs(t0);
  first->hook = [&] { first->timeMinIs(Kiv::now() + delay); };
  second->timeMinIs(t0 + delay / 2);
  loop.runUntil(t0 + 1.5 * delay);
  first->hook = nullptr;
  EXPECT_EQ(first->times, (std::vector<double>{t0, t0 + delay})) << "stepped exactly, not rounded";
  EXPECT_EQ(second->times, std::vector<double>{t0 + delay / 2});
  // From a later, larger time the delay still moves the time forward.
  loop.runUntil(1000.0);
  second->timeMinIs(Kiv::now() + delay);
  loop.advance(delay);
  EXPECT_EQ(second->times.back(), 1000.0 + delay);
  EXPECT_GT(second->times.back(), 1000.0);
}

}  // namespace
