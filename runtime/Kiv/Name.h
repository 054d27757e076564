#pragma once
// Kiv::Name is the name of an entity and the key of collections of
// entities. It is a string with its own type so that names and plain text
// do not mix by accident; it converts to and from Kiv::String8 explicitly
// or from literals.
#include <cstdint>
#include <iosfwd>

#include "Kiv/Export.h"
#include "Kiv/String8.h"

namespace Kiv {

class KIV_API Name {
 public:
  Name() = default;
  Name(char const* s) : s_(s) {}
  Name(String8 const& s) : s_(s) {}

  String8 const& string() const noexcept { return s_; }
  operator String8 const&() const noexcept { return s_; }
  bool empty() const noexcept { return s_.empty(); }
  std::uint32_t hash() const noexcept { return s_.hash(); }

  friend bool operator==(Name const& a, Name const& b) noexcept { return a.s_ == b.s_; }
  friend bool operator!=(Name const& a, Name const& b) noexcept { return a.s_ != b.s_; }
  friend bool operator<(Name const& a, Name const& b) noexcept { return a.s_ < b.s_; }

 private:
  String8 s_;
};

KIV_API std::ostream& operator<<(std::ostream& os, Name const& n);

}  // namespace Kiv
