#pragma once
// The two ends of a connection of the runtime, and their byte-level form.
//
// A connection carries records one way through a writer (Connection::Out)
// and the other way through a reader (Connection::In). ByteConnection::Out
// encodes primitives into a growing byte buffer; ByteConnection::In decodes
// them from a byte buffer it owns. Both are counted objects held by Kiv::Ptr.
//
// Encoding: every integer is big-endian (network byte order); a bool is one
// byte, 0 or 1; a string is its length as a 32-bit integer followed by its
// bytes.
//
// Every reader checks before it reads. A record that is too short, or that
// holds a value the type cannot take, throws Kiv::RangeException naming
// what was being read; nothing past the end (or past the innermost
// ConnectionInSizeAnchor) is read, and the position does not move.
//
//   auto in = Kiv::make<Kiv::ByteConnection::In>(bytes);
//   {
//     Kiv::ConnectionInSizeAnchor frame(in, in->nextU32());
//     auto id = in->nextU64();        // throws rather than leave the frame
//   }
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Kiv/Export.h"
#include "Kiv/PtrInterface.h"
#include "Kiv/String8.h"

namespace Kiv {

class ConnectionInSizeAnchor;

// Groups the two ends of a connection.
class KIV_API Connection {
 public:
  class Out;
  class In;
};

// The writing end of a connection.
class KIV_API Connection::Out : public PtrInterface {
 public:
  // Bracket the payload of one record: begin before it, end after it.
  enum TransactToken : std::uint8_t { transactBegin = 1, transactEnd = 3 };

  ~Out() override;

 protected:
  Out() = default;
};

// The reading end of a connection: a position in the stream of bytes
// received, and the limit up to which reading is allowed now.
class KIV_API Connection::In : public PtrInterface {
 public:
  ~In() override;

  // Bytes consumed so far.
  std::size_t position() const noexcept { return position_; }
  // Bytes that may be read now: up to the end of the data held or the
  // innermost size anchor, whichever comes first.
  std::size_t remaining() const noexcept {
    std::size_t const stop = limit_ < dataEnd_ ? limit_ : dataEnd_;
    return stop > position_ ? stop - position_ : 0;
  }

 protected:
  In() = default;
  // Moves the position on over bytes just read; n is within remaining().
  void positionInc(std::size_t n) noexcept { position_ += n; }
  // Shifts every position back by `n` bytes that were dropped in front.
  void positionsShift(std::size_t n) noexcept {
    position_ -= n;
    dataEnd_ -= n;
  }
  // The position just past the last byte held.
  void dataEndIs(std::size_t end) noexcept { dataEnd_ = end; }

 private:
  friend class ConnectionInSizeAnchor;
  std::size_t position_ = 0;
  std::size_t dataEnd_ = 0;
  // The innermost anchor's end, as a position; unlimited without one.
  std::size_t limit_ = static_cast<std::size_t>(-1);
};

// Groups the byte-buffer ends of a connection.
class KIV_API ByteConnection : public Connection {
 public:
  class Out;
  class In;
};

// Encodes primitives at the end of a growing byte buffer.
class KIV_API ByteConnection::Out : public Connection::Out {
 public:
  Out() = default;
  ~Out() override;

  std::vector<std::uint8_t> const& bytes() const noexcept { return bytes_; }
  std::size_t size() const noexcept { return bytes_.size(); }
  // Empties the buffer; references into bytes() become invalid.
  void clear() noexcept { bytes_.clear(); }

  // Appenders; each may reallocate the buffer, invalidating references
  // into bytes().
  void appendBool(bool v);
  void appendU16(std::uint16_t v);
  void appendU32(std::uint32_t v);
  void appendU64(std::uint64_t v);
  void appendI32(std::int32_t v);
  // The 32-bit length, then the bytes.
  void appendString(String8 const& v);
  void appendU8(std::uint8_t v) { bytes_.push_back(v); }
  void appendBytes(void const* data, std::size_t n);

 protected:
  // Drops the first `n` bytes (they have been sent).
  void consume(std::size_t n);
  // Drops every byte from `size` on.
  void truncate(std::size_t size) { bytes_.resize(size); }
  // Overwrites the four bytes at `at` with `v`, big-endian.
  void patchU32(std::size_t at, std::uint32_t v);

 private:
  void appendBigEndian(std::uint64_t v, std::size_t width);
  std::vector<std::uint8_t> bytes_;
};

// Decodes primitives from a byte buffer that it owns.
class KIV_API ByteConnection::In : public Connection::In {
 public:
  explicit In(std::vector<std::uint8_t> bytes);
  In(std::uint8_t const* data, std::size_t size);
  ~In() override;

  // Each reader throws RangeException "short record reading <what>" when
  // fewer bytes remain than the value needs, and leaves the position
  // unchanged on any failure.
  // A byte other than 0 or 1 throws "bad bool byte <n>".
  bool nextbool();
  std::uint16_t nextU16();
  std::uint32_t nextU32();
  std::uint64_t nextU64();
  std::int32_t nextI32();
  // A length longer than the bytes remaining throws before anything of
  // that length is allocated.
  String8 nextString();
  std::uint8_t nextU8();
  // Copies the next `n` bytes into `data`.
  void nextBytes(void* data, std::size_t n);
  // The next four bytes as a big-endian number, without consuming them.
  std::uint32_t peekU32() const { return static_cast<std::uint32_t>(peekBigEndian(4, "u32")); }
  // The byte `ahead` bytes past the position, without consuming anything;
  // throws like a reader when the limit comes first.
  std::uint8_t peekU8At(std::size_t ahead) const;
  // Moves on over `n` bytes without reading them; throws like a reader
  // when fewer remain.
  void skip(std::size_t n);

 protected:
  // Appends bytes that have arrived; readers see them at once.
  void append(void const* data, std::size_t n);
  // Drops the bytes read so far. Only between records: no size anchor may
  // be open.
  void compact();
  // Bytes held and not read yet, whatever the anchors say.
  std::size_t held() const noexcept { return bytes_.size() - position(); }

 private:
  // The next `width` bytes as a big-endian number, without consuming them.
  std::uint64_t peekBigEndian(std::size_t width, char const* what) const;
  std::vector<std::uint8_t> bytes_;
};

// Limits reading from `reader` to the next `length` bytes for the lifetime
// of the scope: readers throw at that limit as at the end of the data. The
// outer limit comes back when the scope ends. A nested anchor narrows the
// limit further and never widens it past an outer one.
class KIV_API ConnectionInSizeAnchor {
 public:
  ConnectionInSizeAnchor(Ptr<Connection::In> const& reader, unsigned int length);
  ~ConnectionInSizeAnchor();
  ConnectionInSizeAnchor(ConnectionInSizeAnchor const&) = delete;
  ConnectionInSizeAnchor& operator=(ConnectionInSizeAnchor const&) = delete;

 private:
  Ptr<Connection::In> reader_;
  std::size_t outerLimit_;
};

}  // namespace Kiv
