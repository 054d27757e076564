#pragma once
// ControlChannel is the text line channel between bridge-sim and its
// mirror process: one line per message over a Unix-domain socket pair,
// and a message may carry a file descriptor (the next attribute-log
// connection, handed over with SCM_RIGHTS).
#include <deque>
#include <string>

namespace BridgeSim {

class ControlChannel {
 public:
  explicit ControlChannel(int fd) : fd_(fd) {}
  ~ControlChannel();
  ControlChannel(ControlChannel const&) = delete;
  ControlChannel& operator=(ControlChannel const&) = delete;

  int fd() const noexcept { return fd_; }
  // Sends `line` and, when `passFd` is not negative, a copy of that
  // descriptor with it. False when the peer is gone.
  bool send(std::string const& line, int passFd = -1);
  // Takes what has arrived without waiting; false at the end of the
  // stream. Complete lines and received descriptors queue up.
  bool receive();
  // Waits up to `timeout` seconds for a line; false when none came.
  bool waitLine(double timeout);
  bool hasLine() const noexcept { return !lines_.empty(); }
  std::string nextLine();
  // The oldest descriptor received and not taken yet, or -1.
  int nextFd();

 private:
  int fd_;
  std::string partial_;
  std::deque<std::string> lines_;
  std::deque<int> fds_;
};

}  // namespace BridgeSim
