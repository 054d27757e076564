#include "Kiv/ByteConnection.h"

#include "Kiv/Exception.h"
#include "Kiv/Strep.h"

namespace Kiv {

Connection::Out::~Out() = default;
Connection::In::~In() = default;

// --- ByteConnection::Out

ByteConnection::Out::~Out() = default;

void ByteConnection::Out::appendBigEndian(std::uint64_t v, std::size_t width) {
  for (std::size_t shift = width * 8; shift > 0; shift -= 8) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> (shift - 8)));
  }
}

void ByteConnection::Out::appendBool(bool v) { bytes_.push_back(v ? 1 : 0); }
void ByteConnection::Out::appendU16(std::uint16_t v) { appendBigEndian(v, 2); }
void ByteConnection::Out::appendU32(std::uint32_t v) { appendBigEndian(v, 4); }
void ByteConnection::Out::appendU64(std::uint64_t v) { appendBigEndian(v, 8); }
// Two's complement bits, whatever the host's representation.
void ByteConnection::Out::appendI32(std::int32_t v) { appendU32(static_cast<std::uint32_t>(v)); }

void ByteConnection::Out::appendString(String8 const& v) {
  // String8 holds at most 2^31 - 1 bytes, so the length fits its prefix.
  appendU32(static_cast<std::uint32_t>(v.size()));
  auto const* p = reinterpret_cast<std::uint8_t const*>(v.data());
  bytes_.insert(bytes_.end(), p, p + v.size());
}

// --- ByteConnection::In

ByteConnection::In::In(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { dataEndIs(bytes_.size()); }

ByteConnection::In::In(std::uint8_t const* data, std::size_t size) : bytes_(data, data + size) {
  dataEndIs(bytes_.size());
}

ByteConnection::In::~In() = default;

std::uint64_t ByteConnection::In::peekBigEndian(std::size_t width, char const* what) const {
  if (remaining() < width) throwRangeException(String8("short record reading ") + what);
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes_[position() + i];
  return v;
}

bool ByteConnection::In::nextbool() {
  auto const b = peekBigEndian(1, "bool");
  if (b > 1) throwRangeException(format("bad bool byte %u", static_cast<unsigned>(b)));
  positionInc(1);
  return b == 1;
}

std::uint16_t ByteConnection::In::nextU16() {
  auto const v = static_cast<std::uint16_t>(peekBigEndian(2, "u16"));
  positionInc(2);
  return v;
}

std::uint32_t ByteConnection::In::nextU32() {
  auto const v = static_cast<std::uint32_t>(peekBigEndian(4, "u32"));
  positionInc(4);
  return v;
}

std::uint64_t ByteConnection::In::nextU64() {
  auto const v = peekBigEndian(8, "u64");
  positionInc(8);
  return v;
}

std::int32_t ByteConnection::In::nextI32() {
  auto const u = static_cast<std::uint32_t>(peekBigEndian(4, "i32"));
  positionInc(4);
  // Two's complement bits back to a value, without an implementation-defined
  // conversion.
  return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

String8 ByteConnection::In::nextString() {
  auto const length = static_cast<std::size_t>(peekBigEndian(4, "string length"));
  // The length is checked against the bytes held, not trusted, before
  // anything of that size is made.
  if (remaining() - 4 < length) {
    throwRangeException(format("short record reading string of %llu bytes", static_cast<unsigned long long>(length)));
  }
  String8 v(reinterpret_cast<char const*>(bytes_.data() + position() + 4), length);
  positionInc(4 + length);
  return v;
}

// --- ConnectionInSizeAnchor

ConnectionInSizeAnchor::ConnectionInSizeAnchor(Ptr<Connection::In> const& reader, unsigned int length)
    : reader_(ValidPtr<Connection::In>(reader)), outerLimit_(reader_->limit_) {
  std::size_t const position = reader_->position_;
  // Only narrows: the new end is the smaller of position + length and the
  // outer limit, computed without overflowing.
  std::size_t const room = outerLimit_ > position ? outerLimit_ - position : 0;
  if (length < room) reader_->limit_ = position + length;
}

ConnectionInSizeAnchor::~ConnectionInSizeAnchor() { reader_->limit_ = outerLimit_; }

}  // namespace Kiv
