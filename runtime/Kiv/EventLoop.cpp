#include "Kiv/EventLoop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

#include "Kiv/Exception.h"

namespace Kiv {

namespace {

// The longest single wait; the loop looks at its queue again after it.
constexpr double maxWaitSeconds = 86400.0;

constexpr double forever = std::numeric_limits<double>::infinity();

timespec toTimespec(double seconds) {
  double const whole = std::floor(seconds);
  // Rounded up, so that a wait never ends just before the item it waits for.
  auto nanos = static_cast<std::int64_t>(std::ceil((seconds - whole) * 1e9));
  auto secs = static_cast<std::int64_t>(whole);
  if (nanos >= 1000000000) {
    ++secs;
    nanos -= 1000000000;
  }
  timespec ts{};
  ts.tv_sec = static_cast<std::time_t>(secs);
  ts.tv_nsec = static_cast<decltype(ts.tv_nsec)>(nanos);
  return ts;
}

}  // namespace

// Marks the loop as running for the length of one run call.
class EventLoop::RunScope {
 public:
  explicit RunScope(EventLoop& loop) : loop_(loop) {
    if (loop.running_) throwRangeException("the event loop is already running");
    loop.running_ = true;
    loop.stopping_ = false;
  }
  ~RunScope() { loop_.running_ = false; }
  RunScope(RunScope const&) = delete;
  RunScope& operator=(RunScope const&) = delete;

 private:
  EventLoop& loop_;
};

EventLoop& eventLoop() {
  // Never destroyed: queued calls may hold objects whose destructors reach
  // into other libraries, which must not run at exit.
  static EventLoop* const loop = new EventLoop;
  return *loop;
}

double now() { return eventLoop().now(); }

double EventLoop::now() const {
  if (!realTime_) return now_;
  return now_ + std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart_).count();
}

void EventLoop::realTimeIs(bool real) {
  if (real == realTime_) return;
  if (running_) throwRangeException("the event loop cannot change its time mode while it runs");
  if (real) {
    realStart_ = std::chrono::steady_clock::now();
  } else {
    now_ = now();
  }
  realTime_ = real;
}

void EventLoop::reset() {
  if (running_) throwRangeException("the event loop cannot be reset while it runs");
  decltype(timers_) timers;
  decltype(watches_) watches;
  timers.swap(timers_);
  watches.swap(watches_);
  now_ = 0.0;
  realTime_ = false;
  stopping_ = false;
  // `timers` and `watches` go last: what their calls held may be destroyed
  // now, and those destructors find the loop already clean.
}

void EventLoop::defer(Call call) { timerIs(now(), std::move(call)); }

EventLoop::Timer EventLoop::timerIs(double time, Call call) {
  if (std::isnan(time)) throwRangeException("an event loop time must be a number");
  if (!call) throwRangeException("an event loop call must not be null");
  // Never earlier than now: every item queued during a turn sorts after the
  // items that were due when the turn began.
  Timer const timer{std::max(time, now()), nextSeq_++};
  timers_.emplace(timer, std::move(call));
  return timer;
}

bool EventLoop::timerPending(Timer timer) const { return timer && timers_.count(timer) != 0; }

void EventLoop::timerDel(Timer timer) {
  auto it = timers_.find(timer);
  if (it == timers_.end()) return;
  // Released after the erase: its destructors may touch the queue.
  Call call = std::move(it->second);
  timers_.erase(it);
}

void EventLoop::runOnce() {
  RunScope scope(*this);
  runDue(now());
  if (!stopping_) pollFds(0.0);
}

void EventLoop::runUntil(double time) {
  if (std::isnan(time)) throwRangeException("an event loop time must be a number");
  RunScope scope(*this);
  if (realTime_) runReal(time);
  else runSimulated(time);
}

void EventLoop::run() {
  RunScope scope(*this);
  if (realTime_) runReal(forever);
  else runSimulated(forever);
}

void EventLoop::runDue(double due) {
  std::uint64_t const boundary = nextSeq_;
  while (!stopping_ && !timers_.empty()) {
    auto it = timers_.begin();
    if (due < it->first.time || it->first.seq >= boundary) return;
    Call call = std::move(it->second);
    timers_.erase(it);
    call();
  }
}

void EventLoop::runSimulated(double until) {
  until = std::max(until, now_);
  for (;;) {
    runDue(now_);
    if (stopping_) return;
    pollFds(0.0);
    if (stopping_) return;
    if (timers_.empty()) break;
    double const next = timers_.begin()->first.time;
    if (next > until) break;
    now_ = std::max(now_, next);
  }
  if (std::isfinite(until)) now_ = until;
}

void EventLoop::runReal(double until) {
  for (;;) {
    // One reading of the clock for the turn: when it has reached `until`,
    // every item due by `until` has run.
    double t = now();
    runDue(t);
    if (stopping_) return;
    if (t >= until) return;
    t = now();
    double wait = until - t;
    if (!timers_.empty()) wait = std::min(wait, std::max(0.0, timers_.begin()->first.time - t));
    // Nothing queued and nothing watched: nothing could ever wake the loop.
    if (std::isinf(wait) && watches_.empty()) return;
    pollFds(wait);
    if (stopping_) return;
  }
}

void EventLoop::pollFds(double waitSeconds) {
  if (watches_.empty() && !(waitSeconds > 0.0)) return;
  std::vector<pollfd> fds;
  std::vector<std::uint64_t> generations;
  fds.reserve(watches_.size());
  generations.reserve(watches_.size());
  for (auto const& w : watches_) {
    fds.push_back(pollfd{w.first, w.second.events, 0});
    generations.push_back(w.second.generation);
  }
  timespec ts{};
  timespec const* timeout = nullptr;
  if (std::isfinite(waitSeconds)) {
    ts = toTimespec(std::min(std::max(waitSeconds, 0.0), maxWaitSeconds));
    timeout = &ts;
  }
  int const ready = ::ppoll(fds.data(), static_cast<nfds_t>(fds.size()), timeout, nullptr);
  if (ready < 0) {
    if (errno == EINTR) return;
    throwInternalException("event loop poll failed: " + String8(std::strerror(errno)));
  }
  for (std::size_t i = 0; ready > 0 && i < fds.size() && !stopping_; ++i) {
    short const revents = fds[i].revents;
    if (!revents) continue;
    // The watch may have been removed or replaced by an earlier call-back
    // of this turn; then these events are not its own.
    auto it = watches_.find(fds[i].fd);
    if (it == watches_.end() || it->second.generation != generations[i]) continue;
    std::shared_ptr<FdCall> const call = it->second.call;
    // An invalid descriptor would be reported on every turn: it is dropped
    // before its one call, which may watch a new descriptor of that number.
    if (revents & POLLNVAL) watches_.erase(it);
    (*call)(revents);
  }
}

void EventLoop::fdWatchIs(int fd, short events, FdCall call) {
  if (fd < 0) throwRangeException("an event loop descriptor must not be negative");
  if (!call) throwRangeException("an event loop call must not be null");
  Watch watch{events, nextWatchGeneration_++, std::make_shared<FdCall>(std::move(call))};
  std::swap(watches_[fd], watch);
  // `watch` now holds the replaced one, released here.
}

void EventLoop::fdWatchDel(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return;
  std::shared_ptr<FdCall> const call = std::move(it->second.call);
  watches_.erase(it);
}

}  // namespace Kiv
