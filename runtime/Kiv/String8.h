#pragma once
// Kiv::String8 is the runtime's immutable byte string. Copies share one
// counted representation, so passing strings by value is cheap. Bytes are
// compared as unsigned; the hash is a fixed function of the bytes, the same
// on every platform, so collections keyed by strings iterate in a
// reproducible order.
//
// IteratorConst walks a string by position and is what the text readers
// consume: a reader takes (it, end) and never reads at or past end.
// begin() and end() make a string a range of its bytes (as unsigned char),
// for range-for and the standard algorithms.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
#include <string>

#include "Kiv/Export.h"

namespace Kiv {

class KIV_API String8 {
 public:
  class IteratorConst;
  class Iterator;

  String8() noexcept = default;
  String8(char const* s);
  String8(char const* s, std::size_t n);
  String8(std::string const& s);
  String8(String8 const& o) noexcept;
  String8(String8&& o) noexcept : rep_(o.rep_) { o.rep_ = nullptr; }
  String8& operator=(String8 const& o) noexcept;
  String8& operator=(String8&& o) noexcept;
  ~String8();

  std::size_t size() const noexcept { return rep_ ? rep_->size : 0; }
  bool empty() const noexcept { return size() == 0; }
  // Not NUL-terminated in general; use size().
  char const* data() const noexcept { return rep_ ? rep_->bytes : ""; }
  unsigned char operator[](std::size_t i) const noexcept { return static_cast<unsigned char>(data()[i]); }
  std::string stdString() const { return std::string(data(), size()); }

  // FNV-1a over the bytes, then a 32-bit avalanche step.
  std::uint32_t hash() const noexcept;
  // Byte-wise three-way comparison, shorter first on a common prefix.
  int compare(String8 const& o) const noexcept;
  bool dataEquals(String8 const& o) const noexcept;

  String8 substr(std::size_t pos, std::size_t n) const;
  String8 operator+(String8 const& o) const;
  String8& operator+=(String8 const& o);

  IteratorConst iterator(std::size_t pos = 0) const;
  IteratorConst begin() const;
  IteratorConst end() const;

  // True when both share one representation (or both are empty).
  bool sharesRepresentation(String8 const& o) const noexcept { return rep_ == o.rep_; }

 private:
  struct Rep {
    std::uint32_t refs;
    std::uint32_t size;
    char bytes[1];
  };
  static Rep* allocate(std::size_t n);
  void release() noexcept;
  Rep* rep_ = nullptr;
};

inline String8 operator+(char const* a, String8 const& b) { return String8(a) + b; }
inline String8 operator+(String8 const& a, char const* b) { return a + String8(b); }

inline bool operator==(String8 const& a, String8 const& b) noexcept { return a.dataEquals(b); }
inline bool operator!=(String8 const& a, String8 const& b) noexcept { return !a.dataEquals(b); }
inline bool operator<(String8 const& a, String8 const& b) noexcept { return a.compare(b) < 0; }
inline bool operator>(String8 const& a, String8 const& b) noexcept { return a.compare(b) > 0; }
inline bool operator<=(String8 const& a, String8 const& b) noexcept { return a.compare(b) <= 0; }
inline bool operator>=(String8 const& a, String8 const& b) noexcept { return a.compare(b) >= 0; }

// Writes the bytes as they are (no quoting).
KIV_API std::ostream& operator<<(std::ostream& os, String8 const& s);

// A position in a string. Dereferencing at or past the end is a programming
// error; readers compare against their end iterator first.
class KIV_API String8::IteratorConst {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = unsigned char;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = unsigned char;

  IteratorConst() noexcept = default;
  IteratorConst(String8 const& s, std::size_t pos) : str_(s), pos_(static_cast<std::uint32_t>(pos)) {}

  unsigned char operator*() const noexcept { return str_[pos_]; }
  IteratorConst& operator++() noexcept {
    ++pos_;
    return *this;
  }
  IteratorConst operator++(int) {
    IteratorConst was = *this;
    ++pos_;
    return was;
  }
  IteratorConst& operator+=(std::size_t n) noexcept {
    pos_ += static_cast<std::uint32_t>(n);
    return *this;
  }
  std::size_t position() const noexcept { return pos_; }
  void positionIs(std::size_t p) noexcept { pos_ = static_cast<std::uint32_t>(p); }
  String8 const& string() const noexcept { return str_; }
  // Bytes left between the position and the end of the string.
  std::size_t remaining() const noexcept { return pos_ < str_.size() ? str_.size() - pos_ : 0; }
  bool atEnd() const noexcept { return pos_ >= str_.size(); }

  friend bool operator==(IteratorConst const& a, IteratorConst const& b) noexcept { return a.pos_ == b.pos_; }
  friend bool operator!=(IteratorConst const& a, IteratorConst const& b) noexcept { return a.pos_ != b.pos_; }
  friend bool operator<(IteratorConst const& a, IteratorConst const& b) noexcept { return a.pos_ < b.pos_; }

 private:
  String8 str_;
  std::uint32_t pos_ = 0;
};

// A string that arrives in pieces (an attribute-log string written in
// chunks): the total length it will have, and the bytes received so far.
// Pieces must come in order; the string is complete when every byte of the
// total has been received.
class KIV_API String8::Iterator {
 public:
  Iterator() = default;

  // Bytes received so far.
  std::size_t position() const noexcept { return bytes_.size(); }
  std::size_t total() const noexcept { return total_; }
  bool started() const noexcept { return started_; }
  bool complete() const noexcept { return started_ && bytes_.size() == total_; }
  // Bytes still to come.
  std::size_t outstanding() const noexcept { return started_ ? total_ - bytes_.size() : 0; }
  // The bytes received so far, as a string.
  String8 string() const { return String8(bytes_); }

  // Appends the piece at `offset` of a string of `total` bytes. Throws a
  // range exception, and keeps what it had, when the piece does not follow
  // what was received (its offset, its total or its end disagree).
  void append(std::size_t total, std::size_t offset, char const* data, std::size_t n);

 private:
  std::string bytes_;
  std::size_t total_ = 0;
  bool started_ = false;
};

inline String8::IteratorConst String8::iterator(std::size_t pos) const { return IteratorConst(*this, pos); }
inline String8::IteratorConst String8::begin() const { return IteratorConst(*this, 0); }
inline String8::IteratorConst String8::end() const { return IteratorConst(*this, size()); }

}  // namespace Kiv
