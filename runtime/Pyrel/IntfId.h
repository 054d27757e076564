#pragma once
// Pyrel::IntfId names a network interface ("Ethernet1", "Port-Channel5",
// "Ethernet3/1"). It is a plain value that collections of per-port entities
// are keyed by: hashable, ordered and printable. The default is the empty
// name.
//
// Interfaces order naturally: runs of digits compare as numbers, so
// Ethernet2 < Ethernet10 and Ethernet1 < Ethernet1/1 < Ethernet2. Names
// that differ only in leading zeros (Ethernet01, Ethernet1) then order by
// their bytes, so the order is total and two names are equivalent only when
// they are equal.
//
// Its text form is the name as a quoted string (Kiv/Strep.h).
#include <cstdint>
#include <iosfwd>

#include "Kiv/Export.h"
#include "Kiv/KivType.h"
#include "Kiv/Ptr.h"
#include "Kiv/Strep.h"
#include "Kiv/String8.h"

namespace Pyrel {

class PYREL_API IntfId {
 public:
  IntfId() = default;
  explicit IntfId(Kiv::String8 const& name) : name_(name) {}

  Kiv::String8 const& stringValue() const noexcept { return name_; }
  // A fixed function of the name's bytes, the same on every platform.
  std::uint32_t hash() const noexcept { return name_.hash(); }

  // Three-way natural comparison as described above: negative, zero or
  // positive, zero only for equal names.
  int compare(IntfId const& o) const noexcept;

  // The process-lifetime type object "Pyrel::IntfId".
  static Kiv::Ptr<Kiv::KivType> _fwkType();

  friend bool operator==(IntfId const& a, IntfId const& b) noexcept { return a.name_ == b.name_; }
  friend bool operator!=(IntfId const& a, IntfId const& b) noexcept { return a.name_ != b.name_; }
  friend bool operator<(IntfId const& a, IntfId const& b) noexcept { return a.compare(b) < 0; }

 private:
  Kiv::String8 name_;
};

// Writes the name as it is.
PYREL_API std::ostream& operator<<(std::ostream& os, IntfId const& v);

// Text form: the name as a quoted string. The reader takes any quoted
// string (Kiv::sequenceToValue for strings) and follows its rules.
PYREL_API Kiv::String8 valueToStrep(IntfId const& v);
PYREL_API IntfId sequenceToValue(Kiv::String8::IteratorConst& it, Kiv::String8::IteratorConst const& end, IntfId*);

}  // namespace Pyrel

namespace Kiv {
// The text form belongs with the runtime's own, so Kiv::valueToStrep(id)
// works as for built-in values, and generic code finds it by argument-
// dependent lookup as well.
using Pyrel::sequenceToValue;
using Pyrel::valueToStrep;

template <>
PYREL_API Pyrel::IntfId strepToValue<Pyrel::IntfId>(String8 const& s);
}  // namespace Kiv
