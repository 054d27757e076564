// The event loop: turns, deferred calls, timers, both time modes and
// descriptor watches.
#include "Kiv/EventLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Kiv/Exception.h"

namespace {

using Log = std::vector<std::string>;

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { loop.reset(); }
  void TearDown() override { loop.reset(); }
  Kiv::EventLoop& loop = Kiv::eventLoop();
  Log log;
};

// Closes a pipe's ends however the test ends.
struct Pipe {
  Pipe() {
    if (::pipe(fds) != 0) fds[0] = fds[1] = -1;
  }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
  int fds[2];
};

TEST_F(EventLoopTest, DeferredWorkRunsAtTheNextTurnNeverInsideItsCaller) {
  loop.defer([&] {
    log.push_back("first");
    loop.defer([&] { log.push_back("second"); });
    loop.timerIs(-5.0, [&] { log.push_back("past"); });
  });
  EXPECT_TRUE(log.empty());
  loop.runOnce();
  EXPECT_EQ(log, Log{"first"});
  loop.runOnce();
  EXPECT_EQ(log, (Log{"first", "second", "past"})) << "a past time is due now, in queueing order";
  EXPECT_EQ(loop.pending(), 0u);
}

TEST_F(EventLoopTest, RunUntilDeliversEachItemAtItsOwnTimeInOrderAndRefusesBadInput) {
  std::vector<double> at;
  for (double t : {3.0, 1.0, 2.0, 5.0, 1.0}) loop.timerIs(t, [&, t] { at.push_back(t), at.push_back(loop.now()); });
  loop.timerIs(1.0, [&] {
    loop.defer([&] { at.push_back(-loop.now()); });  // due at 1.0, after the items queued before it
  });
  loop.runUntil(4.0);
  EXPECT_EQ(at, (std::vector<double>{1.0, 1.0, 1.0, 1.0, -1.0, 2.0, 2.0, 3.0, 3.0}));
  EXPECT_EQ(loop.now(), 4.0);
  loop.advance(1.0);
  EXPECT_EQ(at.size(), 11u) << "an item due exactly at the end is delivered";
  EXPECT_EQ(loop.now(), 5.0);

  // An earlier end only runs what is due now.
  loop.runUntil(10.0);
  loop.defer([&] { log.push_back("now"); });
  loop.timerIs(11.0, [&] { log.push_back("later"); });
  loop.runUntil(3.0);
  EXPECT_EQ(log, Log{"now"});
  EXPECT_EQ(loop.now(), 10.0) << "time never runs backwards";
  EXPECT_THROW(loop.runUntil(std::nan("")), Kiv::RangeException);
  EXPECT_THROW(loop.timerIs(std::nan(""), [] {}), Kiv::RangeException);
  EXPECT_THROW(loop.timerIs(1.0, nullptr), Kiv::RangeException);
  EXPECT_THROW(loop.fdWatchIs(-1, POLLIN, [](short) {}), Kiv::RangeException);
  EXPECT_EQ(loop.pending(), 1u);
}

TEST_F(EventLoopTest, DeletedTimerAndResetReleaseTheirCallsWhichNeverRun) {
  auto held = std::make_shared<int>(0);
  auto t = loop.timerIs(1.0, [&, held] { log.push_back("x"); });
  EXPECT_EQ(held.use_count(), 2);
  EXPECT_TRUE(loop.timerPending(t));
  loop.timerDel(t);
  EXPECT_FALSE(loop.timerPending(t));
  EXPECT_EQ(held.use_count(), 1);
  loop.timerDel(t);  // no longer queued: nothing
  loop.runUntil(7.0);
  EXPECT_TRUE(log.empty());

  loop.timerIs(9.0, [held] {});
  loop.fdWatchIs(0, POLLIN, [held](short) {});
  loop.reset();
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(loop.now(), 0.0);
  EXPECT_EQ(loop.pending(), 0u);
  EXPECT_FALSE(loop.fdWatched(0));
}

TEST_F(EventLoopTest, ExceptionOrStopEndsRunAndKeepsTheRestQueued) {
  loop.timerIs(1.0, [] { Kiv::throwRangeException("boom"); });
  loop.timerIs(2.0, [&] { log.push_back("after"); });
  EXPECT_THROW(loop.runUntil(3.0), Kiv::RangeException);
  EXPECT_EQ(loop.now(), 1.0);
  EXPECT_FALSE(loop.running());
  loop.runUntil(3.0);
  EXPECT_EQ(log, Log{"after"});

  log.clear();
  loop.timerIs(4.0, [&] { log.push_back("a"); });
  loop.timerIs(5.0, [&] {
    log.push_back("b");
    loop.stop();
  });
  loop.timerIs(5.0, [&] { log.push_back("c"); });
  loop.run();
  EXPECT_EQ(log, (Log{"a", "b"}));
  EXPECT_EQ(loop.pending(), 1u);
  loop.run();
  EXPECT_EQ(log, (Log{"a", "b", "c"})) << "simulated run() ends when nothing is queued";
  EXPECT_EQ(loop.now(), 5.0);
}

TEST_F(EventLoopTest, RunningFromInsideTheLoopIsRefused) {
  bool refused = false;
  loop.defer([&] {
    try {
      loop.runOnce();
    } catch (Kiv::RangeException const&) {
      refused = true;
    }
    EXPECT_THROW(loop.reset(), Kiv::RangeException);
  });
  loop.runOnce();
  EXPECT_TRUE(refused);
}

TEST_F(EventLoopTest, PipeReadinessIsDeliveredInSimulatedTurnsAndAClosedDescriptorOnce) {
  Pipe p;
  ASSERT_GE(p.fds[0], 0);
  std::string got;
  loop.fdWatchIs(p.fds[0], POLLIN, [&](short revents) {
    EXPECT_TRUE(revents & POLLIN);
    char buf[16];
    ssize_t n = ::read(p.fds[0], buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  });
  loop.runOnce();
  EXPECT_TRUE(got.empty());
  ASSERT_EQ(::write(p.fds[1], "hi", 2), 2);
  loop.runOnce();
  EXPECT_EQ(got, "hi");
  loop.fdWatchDel(p.fds[0]);
  ASSERT_EQ(::write(p.fds[1], "!", 1), 1);
  loop.runOnce();
  EXPECT_EQ(got, "hi") << "an unwatched descriptor gets no call";

  // A closed descriptor gets one call that says so, and is dropped.
  int const closed = ::dup(p.fds[0]);
  ::close(closed);
  int calls = 0;
  loop.fdWatchIs(closed, POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLNVAL);
  });
  loop.runOnce();
  loop.runOnce();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(loop.fdWatched(closed));
}

TEST_F(EventLoopTest, RealTimeRunWakesForPipeAndTimer) {
  Pipe p;
  ASSERT_GE(p.fds[0], 0);
  loop.realTimeIs(true);
  double const start = loop.now();
  loop.fdWatchIs(p.fds[0], POLLIN, [&](short) {
    char c;
    if (::read(p.fds[0], &c, 1) == 1) log.push_back(std::string("read ") + c);
    loop.fdWatchDel(p.fds[0]);  // removing itself while it runs
    loop.timerIs(loop.now() + 0.002, [&] {
      log.push_back("timer");
      loop.stop();
    });
  });
  loop.timerIs(start + 0.001, [&] {
    log.push_back("write");
    EXPECT_EQ(::write(p.fds[1], "x", 1), 1);
  });
  loop.run();
  EXPECT_EQ(log, (Log{"write", "read x", "timer"}));
  EXPECT_GE(loop.now(), start + 0.003);
}

TEST_F(EventLoopTest, RealTimeContinuesFromSimulatedTimeAndIdleRunReturns) {
  loop.runUntil(5.0);
  loop.realTimeIs(true);
  double const start = loop.now();
  EXPECT_GE(start, 5.0);
  loop.advance(0.001);
  EXPECT_GE(loop.now(), start + 0.001);
  loop.run();  // nothing queued, nothing watched: returns at once
  loop.realTimeIs(false);
  EXPECT_GE(loop.now(), start + 0.001);
}

TEST_F(EventLoopTest, ReplacedWatchDoesNotGetTheOldWatchesEvents) {
  Pipe a, b;
  ASSERT_GE(a.fds[0], 0);
  ASSERT_GE(b.fds[0], 0);
  ASSERT_EQ(::write(a.fds[1], "1", 1), 1);
  ASSERT_EQ(::write(b.fds[1], "2", 1), 1);
  int const first = std::min(a.fds[0], b.fds[0]);
  int const second = std::max(a.fds[0], b.fds[0]);
  // The first descriptor's call-back replaces the watch of the second one,
  // which was already found readable in this turn.
  loop.fdWatchIs(first, POLLIN, [&](short) {
    log.push_back("first");
    loop.fdWatchIs(second, POLLOUT, [&](short) { log.push_back("new second"); });
  });
  loop.fdWatchIs(second, POLLIN, [&](short) { log.push_back("old second"); });
  loop.runOnce();
  EXPECT_EQ(log, Log{"first"});
}

}  // namespace
