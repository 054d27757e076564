#include "Kiv/ByteStream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Kiv/EventLoop.h"
#include "Kiv/Exception.h"

namespace Kiv {

ByteStream::~ByteStream() = default;

// --- FdByteStream

Ptr<FdByteStream> FdByteStream::FdByteStreamIs(int fd) { return make<FdByteStream>(fd); }

FdByteStream::FdByteStream(int fd) : fd_(fd) {
  if (fd < 0) throwRangeException("negative file descriptor");
  int const flags = ::fcntl(fd, F_GETFL, 0);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  // A TCP socket sends each turn's records at once rather than waiting for
  // the peer's acknowledgement of the last ones; other descriptors refuse
  // the option, which changes nothing.
  int const on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  watch();
}

FdByteStream::~FdByteStream() {
  if (fd_ >= 0) {
    eventLoop().fdWatchDel(fd_);
    ::close(fd_);
  }
}

void FdByteStream::watch() {
  if (fd_ < 0) return;
  short events = ended_ ? 0 : POLLIN;
  if (wantWrite_) events |= POLLOUT;
  // The loop holds the call-back, not the stream: a stream that its owner
  // drops stops being watched in its destructor.
  eventLoop().fdWatchIs(fd_, events, [this](short revents) { onEvents(revents); });
}

void FdByteStream::onEvents(short revents) {
  Ptr<FdByteStream> hold(this);
  if (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) run(readable_);
  if (fd_ >= 0 && wantWrite_ && (revents & (POLLOUT | POLLERR | POLLHUP))) {
    wantWrite_ = false;
    watch();
    run(writable_);
  }
}

std::size_t FdByteStream::write(void const* data, std::size_t n) {
  if (!open() || n == 0) return 0;
  for (;;) {
    ssize_t const w = ::send(fd_, data, n, MSG_NOSIGNAL);
    if (w >= 0) {
      if (static_cast<std::size_t>(w) < n && !wantWrite_) {
        wantWrite_ = true;
        watch();
      }
      return static_cast<std::size_t>(w);
    }
    if (errno == EINTR) continue;
    if (errno == ENOTSOCK) {
      // A pipe or another kind of descriptor.
      ssize_t const p = ::write(fd_, data, n);
      if (p >= 0) return static_cast<std::size_t>(p);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wantWrite_) {
        wantWrite_ = true;
        watch();
      }
      return 0;
    }
    failureIs(String8("write failed: ") + std::strerror(errno));
    ended_ = true;
    watch();
    return 0;
  }
}

std::size_t FdByteStream::read(void* data, std::size_t n) {
  if (fd_ < 0 || ended_ || n == 0) return 0;
  for (;;) {
    ssize_t const r = ::read(fd_, data, n);
    if (r > 0) return static_cast<std::size_t>(r);
    if (r == 0) {
      ended_ = true;
      watch();
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    failureIs(String8("read failed: ") + std::strerror(errno));
    ended_ = true;
    watch();
    return 0;
  }
}

void FdByteStream::close() {
  if (fd_ < 0) return;
  eventLoop().fdWatchDel(fd_);
  ::close(fd_);
  fd_ = -1;
  ended_ = true;
}

// --- MemoryByteStream

std::pair<Ptr<MemoryByteStream>, Ptr<MemoryByteStream>> MemoryByteStream::pairIs(std::size_t capacity) {
  Ptr<MemoryByteStream> a = make<MemoryByteStream>(capacity);
  Ptr<MemoryByteStream> b = make<MemoryByteStream>(capacity);
  a->peer_ = b.ptr();
  b->peer_ = a.ptr();
  return {a, b};
}

MemoryByteStream::~MemoryByteStream() {
  if (peer_) {
    peer_->peer_ = nullptr;
    peer_->open_ = false;
    peer_->scheduleReadable();
  }
}

std::size_t MemoryByteStream::inFlight() const noexcept { return peer_ ? peer_->inbox_.size() : 0; }

std::size_t MemoryByteStream::write(void const* data, std::size_t n) {
  if (!open_ || !peer_ || n == 0) return 0;
  ++writes_;
  std::size_t take = n;
  if (plan_.fullEvery && writes_ % plan_.fullEvery == 0) take = 0;
  if (plan_.writeChunk) take = std::min(take, plan_.writeChunk);
  std::size_t const room = capacity_ > peer_->inbox_.size() ? capacity_ - peer_->inbox_.size() : 0;
  take = std::min(take, room);
  auto const* p = static_cast<std::uint8_t const*>(data);
  peer_->inbox_.insert(peer_->inbox_.end(), p, p + take);
  if (take) peer_->scheduleReadable();
  if (take < n) {
    writeRefused_ = true;
    // A refusal that the fault plan made (not a full buffer) has no reader
    // to free room: the writer is told at the next turn.
    if (room > take || room == capacity_) scheduleWritable();
  }
  return take;
}

std::size_t MemoryByteStream::read(void* data, std::size_t n) {
  std::size_t take = std::min(n, inbox_.size());
  if (plan_.readChunk) take = std::min(take, plan_.readChunk);
  auto* p = static_cast<std::uint8_t*>(data);
  std::copy(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(take), p);
  inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(take));
  if (!inbox_.empty()) scheduleReadable();
  if (take && peer_ && peer_->writeRefused_) peer_->scheduleWritable();
  return take;
}

void MemoryByteStream::close() {
  if (!open_) return;
  open_ = false;
  inbox_.clear();
  if (peer_) {
    peer_->open_ = false;
    peer_->scheduleReadable();
  }
}

void MemoryByteStream::scheduleReadable() {
  if (readablePending_) return;
  readablePending_ = true;
  eventLoop().defer([hold = Ptr<MemoryByteStream>(this)] {
    hold->readablePending_ = false;
    run(hold->readable_);
  });
}

void MemoryByteStream::scheduleWritable() {
  if (writablePending_) return;
  writablePending_ = true;
  eventLoop().defer([hold = Ptr<MemoryByteStream>(this)] {
    hold->writablePending_ = false;
    hold->writeRefused_ = false;
    run(hold->writable_);
  });
}

}  // namespace Kiv
