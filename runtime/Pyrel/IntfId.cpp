#include "Pyrel/IntfId.h"

#include "Kiv/GenericIf.h"

#include <cstddef>
#include <ostream>

namespace Pyrel {

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Compares the digit runs starting at a[i] and b[j] by value, moving i and
// j past them. Leading zeros do not count.
int compareNumbers(Kiv::String8 const& a, std::size_t& i, Kiv::String8 const& b, std::size_t& j) {
  while (i < a.size() && a[i] == '0') ++i;
  while (j < b.size() && b[j] == '0') ++j;
  std::size_t const aStart = i, bStart = j;
  while (i < a.size() && isDigit(a[i])) ++i;
  while (j < b.size() && isDigit(b[j])) ++j;
  // Without leading zeros, the longer run is the larger number.
  std::size_t const aLen = i - aStart, bLen = j - bStart;
  if (aLen != bLen) return aLen < bLen ? -1 : 1;
  for (std::size_t k = 0; k < aLen; ++k) {
    if (a[aStart + k] != b[bStart + k]) return a[aStart + k] < b[bStart + k] ? -1 : 1;
  }
  return 0;
}

// Natural order: digit runs by value, every other byte by itself. A digit
// run met by another byte compares as its first digit does, so the order
// agrees with byte order wherever no two numbers meet.
int compareNatural(Kiv::String8 const& a, Kiv::String8 const& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      int const c = compareNumbers(a, i, b, j);
      if (c != 0) return c;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

int IntfId::compare(IntfId const& o) const noexcept {
  int const c = compareNatural(name_, o.name_);
  return c != 0 ? c : name_.compare(o.name_);
}

Kiv::Ptr<Kiv::KivType> IntfId::_fwkType() {
  // Type objects are nondestructing and live for the whole process.
  static Kiv::Ptr<Kiv::KivType> const type = Kiv::make<Kiv::BuiltinType<IntfId>>("Pyrel::IntfId", nullptr);
  return type;
}

std::ostream& operator<<(std::ostream& os, IntfId const& v) { return os << v.stringValue(); }

Kiv::String8 valueToStrep(IntfId const& v) { return Kiv::valueToStrep(v.stringValue()); }

IntfId sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, IntfId*) {
  return IntfId(Kiv::sequenceToValue<Kiv::String8>(it, end));
}

}  // namespace Pyrel

namespace Kiv {

template <>
Pyrel::IntfId strepToValue<Pyrel::IntfId>(String8 const& s) {
  return parseWholeStrep<Pyrel::IntfId>(s, [](String8::IteratorConst& it, String8::IteratorConst const& end) {
    return sequenceToValue<Pyrel::IntfId>(it, end);
  });
}

}  // namespace Kiv
