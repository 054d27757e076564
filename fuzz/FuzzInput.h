#pragma once
// Takes the choices of a fuzz target from its input bytes, front to back:
// integers in a range, flags, short strings, the rest as text. An input
// that runs out gives zeros and empty strings, so every input is a whole
// run. Written here rather than taken from the fuzzing engine so that the
// targets also build as plain programs that replay kept inputs (ReplayMain).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace FuzzSupport {

class FuzzInput {
 public:
  FuzzInput(std::uint8_t const* data, std::size_t size) noexcept : data_(data), size_(size) {}

  std::size_t remaining() const noexcept { return size_ - pos_; }

  // Up to eight bytes, big-endian, as an unsigned value.
  std::uint64_t bits(unsigned bytes) noexcept {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes && pos_ < size_; ++i) v = (v << 8) | data_[pos_++];
    return v;
  }
  // A value in [lo, hi], taking only as many bytes as the span needs.
  template <class T>
  T inRange(T lo, T hi) noexcept {
    std::uint64_t const span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    unsigned bytes = 0;
    for (std::uint64_t s = span; s; s >>= 8) ++bytes;
    std::uint64_t const v = bits(bytes);
    std::uint64_t const offset = span == UINT64_MAX ? v : v % (span + 1);
    return static_cast<T>(static_cast<std::uint64_t>(lo) + offset);
  }
  template <class T>
  T any() noexcept {
    return static_cast<T>(bits(sizeof(T)));
  }
  bool flag() noexcept { return bits(1) & 1; }
  // Any double, infinities and NaNs included.
  double real() noexcept {
    std::uint64_t const b = bits(8);
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
  }
  template <class T, std::size_t N>
  T const& oneOf(T const (&values)[N]) noexcept {
    return values[inRange<std::size_t>(0, N - 1)];
  }
  // A length byte (up to `maxLength`), then that many bytes.
  std::string text(std::size_t maxLength) {
    std::size_t n = inRange<std::size_t>(0, maxLength);
    if (n > remaining()) n = remaining();
    std::string s(reinterpret_cast<char const*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string rest() {
    std::string s(reinterpret_cast<char const*>(data_ + pos_), remaining());
    pos_ = size_;
    return s;
  }

 private:
  std::uint8_t const* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace FuzzSupport
