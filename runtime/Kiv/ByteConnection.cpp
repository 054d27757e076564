#include "Kiv/ByteConnection.h"

#include <algorithm>

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

void ByteConnection::Out::appendBytes(void const* data, std::size_t n) {
  auto const* p = static_cast<std::uint8_t const*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}

void ByteConnection::Out::consume(std::size_t n) {
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
}

void ByteConnection::Out::patchU32(std::size_t at, std::uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) bytes_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
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

std::uint8_t ByteConnection::In::nextU8() {
  auto const v = static_cast<std::uint8_t>(peekBigEndian(1, "u8"));
  positionInc(1);
  return v;
}

void ByteConnection::In::nextBytes(void* data, std::size_t n) {
  if (remaining() < n) {
    throwRangeException(format("short record reading %llu bytes", static_cast<unsigned long long>(n)));
  }
  std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(position()),
            bytes_.begin() + static_cast<std::ptrdiff_t>(position() + n), static_cast<std::uint8_t*>(data));
  positionInc(n);
}

std::uint8_t ByteConnection::In::peekU8At(std::size_t ahead) const {
  if (remaining() <= ahead) throwRangeException("short record reading u8");
  return bytes_[position() + ahead];
}

void ByteConnection::In::skip(std::size_t n) {
  if (remaining() < n) {
    throwRangeException(format("short record skipping %llu bytes", static_cast<unsigned long long>(n)));
  }
  positionInc(n);
}

void ByteConnection::In::append(void const* data, std::size_t n) {
  auto const* p = static_cast<std::uint8_t const*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
  dataEndIs(bytes_.size());
}

void ByteConnection::In::compact() {
  std::size_t const n = position();
  if (n == 0) return;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  positionsShift(n);
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
