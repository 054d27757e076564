#pragma once
// Kiv::ByteStream is one end of a bidirectional, ordered byte stream: what
// an attribute-log connection (NboAttrLog.h) writes to and reads from.
//
// Two kinds exist:
// - FdByteStream: a file descriptor (a socket pair, a Unix-domain or a TCP
//   socket), switched to non-blocking and watched by the event loop;
// - MemoryByteStream: one end of an in-process pair, for tests. Its peer
//   sees the bytes at the loop's next turn. A fault plan can make it accept
//   short writes, report itself full every k-th write, or hand the reader
//   its bytes a few at a time, so that tests can check that the layers
//   above give the same result whatever the stream does.
//
// Neither end ever blocks: write() takes what fits now, read() returns what
// has arrived. The owner learns through two call-backs, run by the event
// loop on the activity thread, that bytes have arrived (or the stream has
// ended) and that room has come free after a write was refused.
//
//   auto [a, b] = Kiv::MemoryByteStream::pairIs();
//   b->readableCallbackIs([&] { char buf[64]; got += b->read(buf, sizeof buf); });
//   a->write("hello", 5);
//   Kiv::eventLoop().runOnce();                    // b's call-back runs
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

#include "Kiv/Export.h"
#include "Kiv/Ptr.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"

namespace Kiv {

class KIV_API ByteStream : public PtrInterface {
 public:
  using Callback = std::function<void()>;

  ~ByteStream() override;

  // Takes up to `n` bytes and returns how many it took; 0 when the stream
  // cannot take any now (the writable call-back follows when it can) or
  // when it has been closed.
  virtual std::size_t write(void const* data, std::size_t n) = 0;
  // Moves up to `n` arrived bytes into `data` and returns their number;
  // 0 when none has arrived (or the stream has ended, see open()).
  virtual std::size_t read(void* data, std::size_t n) = 0;
  // False once the stream has been closed at either end, or has failed;
  // bytes that arrived before stay readable.
  virtual bool open() const = 0;
  // Closes this end; the peer sees the end of the stream. Idempotent.
  virtual void close() = 0;
  // Why the stream ended, when it ended by failure (empty otherwise).
  String8 const& failure() const noexcept { return failure_; }

  // Run when bytes have arrived or the stream has ended.
  void readableCallbackIs(Callback c) { readable_ = std::move(c); }
  // Run when room has come free after write() took less than it was given.
  void writableCallbackIs(Callback c) { writable_ = std::move(c); }

 protected:
  ByteStream() = default;
  void failureIs(String8 const& why) { failure_ = why; }
  // Runs a call-back, held by a copy: it may replace itself.
  static void run(Callback const& c) {
    if (!c) return;
    Callback hold = c;
    hold();
  }
  Callback readable_;
  Callback writable_;

 private:
  String8 failure_;
};

// A file descriptor, owned: closed when the stream is closed or ends. A
// TCP socket has its send delay (Nagle's) switched off.
class KIV_API FdByteStream : public ByteStream {
 public:
  // Takes over `fd`, makes it non-blocking and watches it with the event
  // loop. Throws a range exception for a negative descriptor.
  static Ptr<FdByteStream> FdByteStreamIs(int fd);
  explicit FdByteStream(int fd);
  ~FdByteStream() override;

  int fd() const noexcept { return fd_; }
  std::size_t write(void const* data, std::size_t n) override;
  std::size_t read(void* data, std::size_t n) override;
  bool open() const override { return fd_ >= 0 && !ended_; }
  void close() override;

 private:
  void watch();
  void onEvents(short revents);
  int fd_;
  bool wantWrite_ = false;
  bool ended_ = false;
};

// One end of an in-process stream pair.
class KIV_API MemoryByteStream : public ByteStream {
 public:
  // What the stream does wrong on purpose.
  struct FaultPlan {
    // At most this many bytes per read() (0: no limit). 1 splits the
    // stream at every byte boundary.
    std::size_t readChunk = 0;
    // At most this many bytes per write() (0: no limit): short writes.
    std::size_t writeChunk = 0;
    // Every k-th write() takes nothing, as a full buffer would (0: never).
    std::uint32_t fullEvery = 0;
  };

  // Two connected ends; each buffers up to `capacity` bytes in flight
  // towards the other.
  static std::pair<Ptr<MemoryByteStream>, Ptr<MemoryByteStream>> pairIs(std::size_t capacity = 1u << 20);
  ~MemoryByteStream() override;

  std::size_t write(void const* data, std::size_t n) override;
  std::size_t read(void* data, std::size_t n) override;
  bool open() const override { return open_; }
  void close() override;

  void faultPlanIs(FaultPlan const& plan) noexcept { plan_ = plan; }
  // Bytes written to this end that the peer has not read yet.
  std::size_t inFlight() const noexcept;

 private:
  template <class T, class... A>
  friend Ptr<T> make(A&&...);
  explicit MemoryByteStream(std::size_t capacity) : capacity_(capacity) {}
  void scheduleReadable();
  void scheduleWritable();

  // Non-owning: the two ends point at each other and clear the pointer
  // when either goes.
  MemoryByteStream* peer_ = nullptr;
  std::deque<std::uint8_t> inbox_;  // bytes from the peer, not read yet
  std::size_t capacity_;
  FaultPlan plan_;
  std::uint32_t writes_ = 0;
  bool open_ = true;
  bool readablePending_ = false;
  bool writablePending_ = false;
  bool writeRefused_ = false;
};

}  // namespace Kiv
