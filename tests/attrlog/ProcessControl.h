#pragma once
// Helpers of the replication tests between real processes: text lines over
// a control socket, read by the event loop; the loop run on real time until
// a condition holds; and a digest of the whole agent model.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/attrlog/ReplicationFixture.h"

namespace attrlog_test {

// The whole model, every byte of it, as one number.
inline std::string digest(Kiv::Ptr<Config> const& c, Kiv::Ptr<Status> const& s) {
  return std::to_string(std::hash<std::string>()(describe(c) + "|" + (s ? s->fabricDeviceName().stdString() : "") +
                                                  (s ? std::to_string(s->initialized()) : "")));
}

// Text lines over a socket, read by the event loop.
class Control {
 public:
  explicit Control(int fd) : fd_(fd) {
    Kiv::eventLoop().fdWatchIs(fd_, POLLIN, [this](short) {
      char buf[256];
      ssize_t const n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        Kiv::eventLoop().fdWatchDel(fd_);
        if (onLine) onLine("eof");
        return;
      }
      pending_.append(buf, static_cast<std::size_t>(n));
      for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        if (onLine) onLine(line);
      }
    });
  }
  ~Control() { Kiv::eventLoop().fdWatchDel(fd_); }
  Control(Control const&) = delete;
  Control& operator=(Control const&) = delete;
  void send(std::string const& line) {
    std::string const l = line + "\n";
    ASSERT_EQ(::write(fd_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }
  std::function<void(std::string const&)> onLine;

 private:
  int fd_;
  std::string pending_;
};

// Runs the loop on real time until `done` or `seconds` have passed.
inline bool runUntil(std::function<bool()> const& done, double seconds = 60.0) {
  auto& loop = Kiv::eventLoop();
  double const deadline = Kiv::now() + seconds;
  while (!done() && Kiv::now() < deadline) loop.runUntil(Kiv::now() + 0.005);
  return done();
}

}  // namespace attrlog_test
