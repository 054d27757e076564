#include "ControlChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace BridgeSim {

ControlChannel::~ControlChannel() {
  for (int f : fds_) ::close(f);
  if (fd_ >= 0) ::close(fd_);
}

bool ControlChannel::send(std::string const& line, int passFd) {
  std::string const text = line + "\n";
  iovec iov{const_cast<char*>(text.data()), text.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (passFd >= 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
  }
  // Control lines are short: one sendmsg takes them whole on a stream socket.
  ssize_t n;
  do n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(text.size());
}

bool ControlChannel::receive() {
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    char buf[4096];
    iovec iov{buf, sizeof buf};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t const n = ::recvmsg(fd_, &msg, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      std::size_t const count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int f;
        std::memcpy(&f, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
        fds_.push_back(f);
      }
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
  }
}

bool ControlChannel::waitLine(double timeout) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  while (lines_.empty()) {
    if (!receive()) return !lines_.empty();
    if (!lines_.empty() || std::chrono::steady_clock::now() >= deadline) break;
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 1);
  }
  return !lines_.empty();
}

std::string ControlChannel::nextLine() {
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

int ControlChannel::nextFd() {
  if (fds_.empty()) return -1;
  int const f = fds_.front();
  fds_.pop_front();
  return f;
}

}  // namespace BridgeSim
