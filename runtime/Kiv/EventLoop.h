#pragma once
// Kiv::EventLoop is the one event loop of the process. It owns the current
// time, runs deferred calls and timers, and waits on file descriptors.
// Clocks (Clock.h) and the attribute log's flow-outs are built on it.
//
// Time has two modes:
// - simulated (the default): time starts at 0.0 and moves only when the
//   loop is run forward with runUntil() or advance(). Each item runs with
//   now() equal to its own time. Tests use this mode.
// - real (realTimeIs(true)): now() follows the monotonic clock, continuing
//   from the time the loop had when the mode was switched on; run() waits
//   with poll() for the next timer or a watched descriptor. Hosts use this.
//
// Work is done in turns. A turn runs, in time order and ties in the order
// in which they were queued, every item that was due when the turn began;
// items queued during a turn wait for the next turn, so nothing queued runs
// inside the call that queued it. Then the turn polls the watched file
// descriptors (without waiting, unless the loop is idle in real time) and
// calls their call-backs.
//
//   Kiv::eventLoop().defer([&] { flowOut(); });                     // next turn
//   auto t = Kiv::eventLoop().timerIs(Kiv::now() + 1.0, [&] { retry(); });
//   Kiv::eventLoop().advance(2.0);           // simulated: runs both, in order
//
// An exception thrown by a deferred call, a timer or a descriptor call-back
// leaves the run call that made the call; the loop stays consistent and
// can be run again. (Clock notifiees catch their own, see Clock.h.)
//
// Everything runs on the one activity thread; the loop is not re-entrant:
// running it from inside one of its calls throws.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "Kiv/Export.h"

namespace Kiv {

class KIV_API EventLoop {
 public:
  using Call = std::function<void()>;
  using FdCall = std::function<void(short revents)>;

  // A queued item: its due time and its place among items of equal time.
  // A default Timer stands for none.
  struct Timer {
    double time = 0.0;
    std::uint64_t seq = 0;
    explicit operator bool() const noexcept { return seq != 0; }
    friend bool operator<(Timer const& a, Timer const& b) noexcept {
      return a.time < b.time || (a.time == b.time && a.seq < b.seq);
    }
  };

  EventLoop(EventLoop const&) = delete;
  EventLoop& operator=(EventLoop const&) = delete;

  // The current time in seconds.
  double now() const;
  bool realTime() const noexcept { return realTime_; }
  // Switches between real and simulated time; time never runs backwards
  // across a switch. Throws while the loop runs.
  void realTimeIs(bool real);
  bool running() const noexcept { return running_; }

  // For tests: simulated time at 0.0; every queued item and descriptor
  // watch is dropped (and what their call-backs held is released). A clock
  // observer that was queued keeps its arming, but is queued again only by
  // its next timeMinIs() or when its notification or registration is
  // switched off and on. Throws while the loop runs.
  void reset();

  // Runs `call` at the loop's next turn.
  void defer(Call call);
  // Runs `call` when the loop's time reaches `time` (at the next turn if
  // that has passed). Throws a range exception for a NaN time or a null
  // call. The result identifies the item for timerDel().
  Timer timerIs(double time, Call call);
  // Whether the item is still queued (not run, not deleted).
  bool timerPending(Timer timer) const;
  // Removes a queued item and releases its call; does nothing for an item
  // that is no longer queued.
  void timerDel(Timer timer);
  // The number of queued items.
  std::size_t pending() const noexcept { return timers_.size(); }

  // One turn at the current time, without waiting.
  void runOnce();
  // Runs every item due at or before `time`, in time order. In simulated
  // time each runs at its own time and then the time becomes `time` (an
  // infinite `time` runs until nothing is queued and leaves the time at the
  // last item); an earlier `time` only runs what is due now. In real time
  // it runs turns, waiting between them, until the clock reaches `time`.
  // Throws a range exception for a NaN time.
  void runUntil(double time);
  void advance(double dt) { runUntil(now() + dt); }
  // Runs until stop(), or until there is nothing left that could wake the
  // loop (no queued item and, in real time, no watched descriptor).
  void run();
  // Ends the current run(), runUntil() or advance() after the call that
  // stops it; the rest stays queued.
  void stop() noexcept { stopping_ = true; }

  // Watches `fd` for the poll() `events`, replacing an earlier watch of the
  // same descriptor; `call` gets the returned events. A descriptor that
  // poll() finds invalid (closed without fdWatchDel) gets one call with
  // POLLNVAL and is then no longer watched. Throws a range exception for a
  // negative descriptor or a null call.
  void fdWatchIs(int fd, short events, FdCall call);
  // Stops watching `fd`; its call-back is released (after it returns, if
  // it is running).
  void fdWatchDel(int fd);
  bool fdWatched(int fd) const { return watches_.count(fd) != 0; }

 private:
  friend KIV_API EventLoop& eventLoop();
  EventLoop() = default;

  struct Watch {
    short events;
    std::uint64_t generation;
    std::shared_ptr<FdCall> call;
  };
  class RunScope;

  // Runs the items due at `due` that were queued before this call.
  void runDue(double due);
  void pollFds(double waitSeconds);
  void runSimulated(double until);
  void runReal(double until);

  std::map<Timer, Call> timers_;
  std::uint64_t nextSeq_ = 1;
  std::map<int, Watch> watches_;
  std::uint64_t nextWatchGeneration_ = 1;
  double now_ = 0.0;  // simulated time; in real time, the time at the switch
  std::chrono::steady_clock::time_point realStart_;
  bool realTime_ = false;
  bool running_ = false;
  bool stopping_ = false;
};

// The loop of the process.
KIV_API EventLoop& eventLoop();
// Its current time in seconds.
KIV_API double now();

}  // namespace Kiv
